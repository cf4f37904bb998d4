// Base of the executors: waits on a DDS wait set for the conditions of the nodes' executables
// and dispatches them, respecting callback groups (as rclcpp::Executor).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
/// be called from several threads: one of them at a time waits on the DDS wait set while the
/// others take and run work it found (each found item wakes one thread). Work is served in
/// rounds: everything ready at one look at the wait set runs before the next look, so a busy
/// entity cannot starve the others. When work is already known to be ready (a timer is due, an
/// entity just produced a message), the next look polls the conditions instead of blocking.
/// A mutually exclusive group is withheld from the wait set while one of its callbacks runs.
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

  using Live = std::vector<std::pair<Waitable::SharedPtr, CallbackGroup::SharedPtr>>;

  /// A served group as it was at the last collection.
  struct CollectedGroup
  {
    CallbackGroup::WeakPtr group;
    bool excluded;  ///< mutually exclusive and busy, so its conditions were left out
  };

  /// The live executables: collected afresh when the served set or a group's availability
  /// changed since the last collection, otherwise taken from it.
  void collect(Live & live);
  bool collection_stale();
  void collect_and_attach(Live & live);
  /// One look at the wait set (only the thread holding the waiter role calls it): polls the
  /// conditions when `poll` is set or `timeout` is zero, otherwise blocks up to `timeout`
  /// (negative: forever) unless something is ready. Appends what is ready to `found`.
  void wait_for_work(std::chrono::nanoseconds timeout, bool poll, std::vector<Entry> & found);
  /// Blocks on the wait set up to `wait` (negative: forever); appends what triggered.
  /// @return true when the interrupt or a node's guard was among it
  bool block_on_wait_set(std::chrono::nanoseconds wait, std::vector<Entry> & found);
  /// Appends the attached entities whose condition is raised, without blocking.
  /// @return true when the interrupt or a node's guard was raised
  bool poll_conditions(std::vector<Entry> & found);
  /// Takes the waiter role (if free) and looks at the wait set; called with `lock` held.
  void refresh_ready(std::unique_lock<std::mutex> & lock, std::chrono::nanoseconds timeout);
  /// Pops ready entries until one yields work (its take runs without the lock held).
  bool take_ready(std::unique_lock<std::mutex> & lock, AnyExecutable & any);
  /// Makes a mutually exclusive group available again and wakes a waiter that left it out.
  void release_group(const CallbackGroup::SharedPtr & group);

  std::mutex wait_mutex_;   ///< guards ready_, waiter_active_ and known_ready_
  std::condition_variable work_cv_;  ///< threads waiting for the waiter to find work
  bool waiter_active_{false};  ///< one thread is looking at the wait set
  bool known_ready_{false};    ///< work was taken since the last look: poll, do not block
  std::mutex groups_mutex_; ///< guards nodes_ and groups_
  std::vector<NodeTopics::WeakPtr> nodes_;
  std::vector<GroupRecord> groups_;
  int32_t waitset_{0};
  int32_t interrupt_guard_{0};
  int32_t poll_guard_{0};   ///< raised by the waiter itself to look at the wait set at once
  // Touched only by the thread holding the waiter role.
  std::unordered_map<int32_t, Entry> attached_;   ///< wait-set attachments by DDS entity
  std::unordered_map<int32_t, NodeTopics::WeakPtr> node_guards_;  ///< attached node guards
  std::vector<CollectedGroup> collected_groups_;  ///< groups of the last collection
  std::vector<Entry> collected_live_;              ///< executables of the last collection
  std::atomic_bool collection_dirty_{true};  ///< nodes, groups or executables were added
  std::vector<intptr_t> triggered_;   ///< buffer of the last wait (dds_attach_t)
  std::deque<Entry> ready_;   ///< found by the last look, not yet taken (the current round)
  std::atomic<int> waiting_{0};  ///< threads between collecting and leaving the wait set
};

}  // namespace rclcdds
