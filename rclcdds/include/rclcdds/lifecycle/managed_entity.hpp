// Entities switched on and off with a lifecycle node (as rclcpp_lifecycle::ManagedEntityInterface).
#pragma once

#include <atomic>

namespace rclcdds_lifecycle
{

/// Something that works only while its node is active.
class ManagedEntityInterface
{
public:
  virtual ~ManagedEntityInterface() = default;
  virtual void on_activate() = 0;
  virtual void on_deactivate() = 0;
};

/// Managed entity that just remembers whether it is active.
class SimpleManagedEntity : public ManagedEntityInterface
{
public:
  void on_activate() override {activated_.store(true, std::memory_order_release);}
  void on_deactivate() override {activated_.store(false, std::memory_order_release);}
  bool is_activated() const {return activated_.load(std::memory_order_acquire);}

private:
  std::atomic<bool> activated_{false};
};

}  // namespace rclcdds_lifecycle
