// Quality of service shaped like rclcpp::QoS, with rclcpp's named profiles.
#pragma once

#include <cstddef>

namespace rclcdds
{

/// How many samples are kept per reader/writer.
enum class HistoryPolicy {KeepLast, KeepAll, SystemDefault};
/// Whether delivery is retried.
enum class ReliabilityPolicy {Reliable, BestEffort, SystemDefault};
/// Whether late-joining readers get the writer's kept samples.
enum class DurabilityPolicy {Volatile, TransientLocal, SystemDefault};

/// Keep-last history with a depth (in samples).
struct KeepLast
{
  explicit KeepLast(size_t history_depth) : depth(history_depth) {}
  size_t depth;  ///< samples kept
};

/// Keep-all history.
struct KeepAll
{
};

/// QoS profile of a publisher or subscription. Defaults as rclcpp: reliable, volatile.
class QoS
{
public:
  /// Keep-last `depth`, reliable, volatile (lets `create_publisher<T>("t", 10)` compile as in rclcpp).
  QoS(size_t depth);  // NOLINT(runtime/explicit)
  QoS(const KeepLast & keep_last);  // NOLINT(runtime/explicit)
  QoS(const KeepAll & keep_all);  // NOLINT(runtime/explicit)

  QoS & history(HistoryPolicy policy);
  QoS & keep_last(size_t depth);
  QoS & keep_all();
  QoS & reliability(ReliabilityPolicy policy);
  QoS & reliable() {return reliability(ReliabilityPolicy::Reliable);}
  QoS & best_effort() {return reliability(ReliabilityPolicy::BestEffort);}
  QoS & durability(DurabilityPolicy policy);
  QoS & durability_volatile() {return durability(DurabilityPolicy::Volatile);}
  QoS & transient_local() {return durability(DurabilityPolicy::TransientLocal);}

  HistoryPolicy history() const {return history_;}
  /// History depth in samples (meaningful for keep-last).
  size_t depth() const {return depth_;}
  ReliabilityPolicy reliability() const {return reliability_;}
  DurabilityPolicy durability() const {return durability_;}

  bool operator==(const QoS & other) const;
  bool operator!=(const QoS & other) const {return !(*this == other);}

private:
  HistoryPolicy history_{HistoryPolicy::KeepLast};
  size_t depth_{10};  ///< samples
  ReliabilityPolicy reliability_{ReliabilityPolicy::Reliable};
  DurabilityPolicy durability_{DurabilityPolicy::Volatile};
};

/// DDS implementation defaults for every policy.
class SystemDefaultsQoS : public QoS
{
public:
  SystemDefaultsQoS();
};

/// Sensor streams: keep-last 5, best effort, volatile.
class SensorDataQoS : public QoS
{
public:
  explicit SensorDataQoS(const KeepLast & keep_last = KeepLast(5));
};

/// Parameter services: keep-last 1000, reliable, volatile.
class ParametersQoS : public QoS
{
public:
  explicit ParametersQoS(const KeepLast & keep_last = KeepLast(1000));
};

/// Services: keep-last 10, reliable, volatile.
class ServicesQoS : public QoS
{
public:
  explicit ServicesQoS(const KeepLast & keep_last = KeepLast(10));
};

/// /parameter_events: keep-last 1000, reliable, volatile.
class ParameterEventsQoS : public QoS
{
public:
  explicit ParameterEventsQoS(const KeepLast & keep_last = KeepLast(1000));
};

/// /clock: keep-last 1, best effort, volatile.
class ClockQoS : public QoS
{
public:
  explicit ClockQoS(const KeepLast & keep_last = KeepLast(1));
};

}  // namespace rclcdds
