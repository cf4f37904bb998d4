// Callback groups as rclcpp's: mutually exclusive (never two callbacks at once) or reentrant.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcdds/waitable.hpp"

namespace rclcdds
{

/// Concurrency rule of a callback group.
enum class CallbackGroupType
{
  MutuallyExclusive,  ///< at most one callback of the group runs at a time
  Reentrant,          ///< callbacks of the group may run concurrently
};

/// Set of executables (held weakly) that share a concurrency rule.
class CallbackGroup
{
public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;
  using WeakPtr = std::weak_ptr<CallbackGroup>;

  explicit CallbackGroup(
    CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  CallbackGroupType type() const {return type_;}

  /// True when executors that get the node also get this group.
  bool automatically_add_to_executor_with_node() const {return auto_add_;}

  /// Cleared by an executor while it runs a callback of a mutually exclusive group.
  std::atomic_bool & can_be_taken_from() {return can_be_taken_from_;}

  /// Set while the group belongs to an executor (a group serves one executor at a time).
  std::atomic_bool & get_associated_with_executor_atomic() {return associated_with_executor_;}

  /// Adds an executable (held weakly) and wakes the executors serving the group.
  void add_waitable(const Waitable::SharedPtr & waitable);

  /// Appends the live executables to `out` and forgets the expired ones.
  void collect(std::vector<Waitable::SharedPtr> & out);

  /// Number of live executables.
  size_t size() const;

  /// Called after every add_waitable (a node wakes its executors through this).
  void set_on_change(std::function<void ()> on_change);

private:
  CallbackGroupType type_;
  bool auto_add_;
  std::atomic_bool can_be_taken_from_{true};
  std::atomic_bool associated_with_executor_{false};
  mutable std::mutex mutex_;
  std::vector<Waitable::WeakPtr> waitables_;
  std::function<void ()> on_change_;
};

}  // namespace rclcdds
