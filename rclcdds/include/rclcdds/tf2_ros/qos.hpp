// QoS profiles of /tf and /tf_static, as tf2_ros defines them.
#pragma once

#include "rclcdds/qos.hpp"

namespace rclcdds
{
namespace tf2_ros
{

/// /tf listener: keep-last 100, reliable, volatile.
class DynamicListenerQoS : public QoS
{
public:
  explicit DynamicListenerQoS(size_t depth = 100) : QoS(depth) {}
};

/// /tf broadcaster: keep-last 100, reliable, volatile.
class DynamicBroadcasterQoS : public QoS
{
public:
  explicit DynamicBroadcasterQoS(size_t depth = 100) : QoS(depth) {}
};

/// /tf_static listener: keep-last 100, reliable, transient local.
class StaticListenerQoS : public QoS
{
public:
  explicit StaticListenerQoS(size_t depth = 100) : QoS(depth) {transient_local();}
};

/// /tf_static broadcaster: keep-last 1, reliable, transient local (each sample carries every
/// static transform the broadcaster has sent).
class StaticBroadcasterQoS : public QoS
{
public:
  explicit StaticBroadcasterQoS(size_t depth = 1) : QoS(depth) {transient_local();}
};

}  // namespace tf2_ros
}  // namespace rclcdds
