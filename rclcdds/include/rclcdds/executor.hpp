// Base of the executors: waits on a DDS wait set for the conditions of the nodes' executables
// and dispatches them, respecting callback groups (as rclcpp::Executor).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "rclcdds/callback_group.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"
#include "rclcdds/waitable.hpp"

namespace rclcdds
{

/// Options of an executor.
struct ExecutorOptions
{
  Context::SharedPtr context;  ///< context whose shutdown stops the executor; global when empty
};

/// Result of spin_until_future_complete (as rclcpp::FutureReturnCode).
enum class FutureReturnCode {SUCCESS, INTERRUPTED, TIMEOUT};

/// One piece of work taken from an executable, ready to run.
struct AnyExecutable
{
  Waitable::SharedPtr waitable;        ///< what to run
  CallbackGroup::SharedPtr group;      ///< its group (released after execution)
  std::shared_ptr<void> data;          ///< what take_data() returned
};

/// Dispatch core shared by the single- and multi-threaded executors. get_next_executable() may
/// be called from several threads (calls are serialised internally); execute_any_executable()
/// runs concurrently. A mutually exclusive group is withheld from the wait set while one of its
/// callbacks runs.
class Executor
{
public:
  using SharedPtr = std::shared_ptr<Executor>;

  explicit Executor(const ExecutorOptions & options = ExecutorOptions());
  virtual ~Executor();
  Executor(const Executor &) = delete;
  Executor & operator=(const Executor &) = delete;

  /// Runs callbacks until cancel() or shutdown.
  virtual void spin() = 0;

  /// Serves the node's groups that are marked for automatic adding.
  /// @throws std::runtime_error when the node or one of its groups is served by another executor
  void add_node(const NodeTopics::SharedPtr & node, bool notify = true);
  void remove_node(const NodeTopics::SharedPtr & node, bool notify = true);

  /// Serves one group of `node` (also groups not marked for automatic adding).
  /// @throws std::runtime_error when the group is served by another executor
  void add_callback_group(
    const CallbackGroup::SharedPtr & group, const NodeTopics::SharedPtr & node,
    bool notify = true);
  void remove_callback_group(const CallbackGroup::SharedPtr & group, bool notify = true);

  /// Runs the work that is ready now, without waiting; stops early after `max_duration`
  /// (0: no limit).
  void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));

  /// Runs work until none is ready or `max_duration` has passed (0: no limit).
  void spin_all(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));

  /// Waits up to `timeout` (negative: forever) for one piece of work and runs it.
  void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  /// Runs `node` alone for what is ready now (adds and removes it).
  void spin_node_some(const NodeTopics::SharedPtr & node);

  /// Spins until `future` is ready, `timeout` passes (negative: never) or the context shuts down.
  template<class FutureT>
  FutureReturnCode spin_until_future_complete(
    const FutureT & future, std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1))
  {
    const auto start = std::chrono::steady_clock::now();
    const auto step = std::chrono::milliseconds(10);
    SpinningGuard guard(*this);
    while (spinning_ && context_->is_valid()) {
      if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        return FutureReturnCode::SUCCESS;
      }
      auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(step);
      if (timeout >= std::chrono::nanoseconds(0)) {
        const auto left = timeout - (std::chrono::steady_clock::now() - start);
        if (left <= std::chrono::nanoseconds(0)) {
          return FutureReturnCode::TIMEOUT;
        }
        wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left));
      }
      AnyExecutable any;
      if (get_next_executable(any, wait)) {
        execute_any_executable(any);
      }
    }
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready ?
           FutureReturnCode::SUCCESS : FutureReturnCode::INTERRUPTED;
  }

  /// Makes spin() return soon (from any thread).
  void cancel();

  /// True while a spin call is running.
  bool is_spinning() const {return spinning_;}

protected:
  /// Marks the executor spinning for a scope; throws when it already is.
  class SpinningGuard
  {
public:
    explicit SpinningGuard(Executor & executor);
    ~SpinningGuard();

private:
    Executor & executor_;
  };

  /// Waits up to `timeout` (negative: forever) for work and takes the next ready item, honouring
  /// callback groups. False on timeout, cancel or shutdown.
  bool get_next_executable(AnyExecutable & any, std::chrono::nanoseconds timeout);

  /// Runs the item and releases its group.
  void execute_any_executable(AnyExecutable & any);

  /// Wakes threads blocked in get_next_executable().
  void interrupt();

  Context::SharedPtr context_;
  std::atomic_bool spinning_{false};

private:
  /// An executable with its group, as attached to the wait set.
  struct Entry
  {
    Waitable::WeakPtr waitable;
    CallbackGroup::WeakPtr group;
  };

  /// Executables of one served group.
  struct GroupRecord
  {
    CallbackGroup::WeakPtr group;
    NodeTopics::WeakPtr node;
  };

  void collect_and_attach(std::vector<std::pair<Waitable::SharedPtr, CallbackGroup::SharedPtr>> & live);
  bool wait_for_work(std::chrono::nanoseconds timeout);
  bool take_ready(AnyExecutable & any);
  void attach_node_guards();

  std::mutex wait_mutex_;   ///< serialises waiting and taking
  std::mutex groups_mutex_; ///< guards nodes_ and groups_
  std::vector<NodeTopics::WeakPtr> nodes_;
  std::vector<GroupRecord> groups_;
  int32_t waitset_{0};
  int32_t interrupt_guard_{0};
  std::unordered_map<int32_t, Entry> attached_;   ///< wait-set attachments by DDS entity
  std::unordered_map<int32_t, NodeTopics::WeakPtr> node_guards_;  ///< attached node guards
  std::vector<Entry> ready_;   ///< triggered by the last wait, not yet taken
  std::atomic<int> waiting_{0};  ///< threads between collecting and leaving the wait set
};

}  // namespace rclcdds
