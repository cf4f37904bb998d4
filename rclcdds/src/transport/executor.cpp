#include "rclcdds/executor.hpp"

#include <dds/dds.h>

#include <algorithm>
#include <stdexcept>
#include <unordered_set>

namespace rclcdds
{

namespace
{
using Clock = std::chrono::steady_clock;

}  // namespace

Executor::SpinningGuard::SpinningGuard(Executor & executor) : executor_(executor)
{
  if (executor_.spinning_.exchange(true)) {
    throw std::runtime_error("spin() called while already spinning");
  }
}

Executor::SpinningGuard::~SpinningGuard()
{
  executor_.spinning_ = false;
}

Executor::Executor(const ExecutorOptions & options)
: context_(options.context ? options.context : get_global_default_context())
{
  const dds_entity_t participant = context_->participant();
  if (participant <= 0) {
    throw std::runtime_error("cannot create an executor: call rclcdds::init first");
  }
  waitset_ = dds_create_waitset(participant);
  interrupt_guard_ = dds_create_guardcondition(participant);
  poll_guard_ = dds_create_guardcondition(participant);
  if (waitset_ < 0 || interrupt_guard_ < 0 || poll_guard_ < 0) {
    throw std::runtime_error("cannot create the executor's wait set");
  }
  dds_waitset_attach(waitset_, interrupt_guard_, interrupt_guard_);
  dds_waitset_attach(waitset_, poll_guard_, poll_guard_);
  context_->add_interrupt_guard(interrupt_guard_);
}

Executor::~Executor()
{
  context_->remove_interrupt_guard(interrupt_guard_);
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    for (const auto & record : groups_) {
      if (auto group = record.group.lock()) {
        group->get_associated_with_executor_atomic() = false;
      }
    }
  }
  dds_delete(waitset_);
  dds_delete(interrupt_guard_);
  dds_delete(poll_guard_);
}

void Executor::add_node(const NodeTopics::SharedPtr & node, bool notify)
{
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    for (const auto & weak : nodes_) {
      if (weak.lock() == node) {
        throw std::runtime_error(
                "node '" + node->get_fully_qualified_name() + "' has already been added to this executor");
      }
    }
    for (const auto & group : node->get_callback_groups()) {
      if (group->automatically_add_to_executor_with_node() &&
        group->get_associated_with_executor_atomic().load())
      {
        throw std::runtime_error(
                "a callback group of node '" + node->get_fully_qualified_name() +
                "' has already been added to an executor");
      }
    }
    nodes_.push_back(node);
  }
  collection_dirty_ = true;
  if (notify) {
    interrupt();
  }
}

void Executor::remove_node(const NodeTopics::SharedPtr & node, bool notify)
{
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    nodes_.erase(
      std::remove_if(
        nodes_.begin(), nodes_.end(),
        [&node](const NodeTopics::WeakPtr & weak) {
          auto locked = weak.lock();
          return !locked || locked == node;
        }),
      nodes_.end());
    groups_.erase(
      std::remove_if(
        groups_.begin(), groups_.end(),
        [&node](const GroupRecord & record) {
          auto locked_node = record.node.lock();
          if (locked_node && locked_node != node) {
            return false;
          }
          if (auto group = record.group.lock()) {
            group->get_associated_with_executor_atomic() = false;
          }
          return true;
        }),
      groups_.end());
  }
  collection_dirty_ = true;
  if (notify) {
    interrupt();
  }
}

void Executor::add_callback_group(
  const CallbackGroup::SharedPtr & group, const NodeTopics::SharedPtr & node, bool notify)
{
  if (group->get_associated_with_executor_atomic().exchange(true)) {
    throw std::runtime_error("callback group has already been added to an executor");
  }
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    groups_.push_back(GroupRecord{group, node});
  }
  collection_dirty_ = true;
  if (notify) {
    interrupt();
  }
}

void Executor::remove_callback_group(const CallbackGroup::SharedPtr & group, bool notify)
{
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    groups_.erase(
      std::remove_if(
        groups_.begin(), groups_.end(),
        [&group](const GroupRecord & record) {return record.group.lock() == group;}),
      groups_.end());
  }
  group->get_associated_with_executor_atomic() = false;
  collection_dirty_ = true;
  if (notify) {
    interrupt();
  }
}

void Executor::cancel()
{
  spinning_ = false;
  interrupt();
  {
    std::lock_guard<std::mutex> lock(wait_mutex_);  // no thread misses the notification
  }
  work_cv_.notify_all();
}

void Executor::interrupt()
{
  dds_set_guardcondition(interrupt_guard_, true);
}

void Executor::collect_and_attach(Live & live)
{
  std::vector<NodeTopics::SharedPtr> nodes;
  std::vector<std::pair<CallbackGroup::SharedPtr, NodeTopics::SharedPtr>> groups;
  {
    std::lock_guard<std::mutex> lock(groups_mutex_);
    // Groups created on served nodes since the last pass join automatically.
    nodes_.erase(
      std::remove_if(
        nodes_.begin(), nodes_.end(),
        [](const NodeTopics::WeakPtr & weak) {return weak.expired();}),
      nodes_.end());
    for (const auto & weak : nodes_) {
      NodeTopics::SharedPtr node = weak.lock();
      nodes.push_back(node);
      for (const auto & group : node->get_callback_groups()) {
        if (group->automatically_add_to_executor_with_node() &&
          !group->get_associated_with_executor_atomic().exchange(true))
        {
          groups_.push_back(GroupRecord{group, node});
        }
      }
    }
    groups_.erase(
      std::remove_if(
        groups_.begin(), groups_.end(),
        [](const GroupRecord & record) {return record.group.expired();}),
      groups_.end());
    for (const auto & record : groups_) {
      groups.emplace_back(record.group.lock(), record.node.lock());
    }
  }

  std::vector<Waitable::SharedPtr> waitables;
  collected_groups_.clear();
  for (const auto & [group, node] : groups) {
    if (node && std::find(nodes.begin(), nodes.end(), node) == nodes.end()) {
      nodes.push_back(node);  // a group added on its own: its node announces new executables
    }
    const bool excluded = group->type() == CallbackGroupType::MutuallyExclusive &&
      !group->can_be_taken_from().load();
    collected_groups_.push_back(CollectedGroup{group, excluded});
    if (excluded) {
      continue;  // one of its callbacks is running; wake again when it is released
    }
    waitables.clear();
    group->collect(waitables);
    for (auto & waitable : waitables) {
      live.emplace_back(std::move(waitable), group);
    }
  }

  collected_live_.clear();
  for (const auto & [waitable, group] : live) {
    collected_live_.push_back(Entry{waitable, group});
  }

  // Bring the wait set in line with the live executables.
  std::unordered_map<int32_t, Entry> wanted;
  for (const auto & [waitable, group] : live) {
    const int32_t entity = waitable->get_wait_entity();
    if (entity > 0) {
      wanted.emplace(entity, Entry{waitable, group});
    }
  }
  for (auto it = attached_.begin(); it != attached_.end(); ) {
    if (wanted.count(it->first) == 0) {
      dds_waitset_detach(waitset_, it->first);  // fails harmlessly if already deleted
      it = attached_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto & [entity, entry] : wanted) {
    auto it = attached_.find(entity);
    if (it == attached_.end()) {
      if (dds_waitset_attach(waitset_, entity, entity) == DDS_RETCODE_OK) {
        attached_.emplace(entity, entry);
      }
    } else {
      it->second = entry;
    }
  }

  std::unordered_set<int32_t> wanted_guards;
  for (const auto & node : nodes) {
    const int32_t guard = node->get_notify_guard_condition();
    wanted_guards.insert(guard);
    if (node_guards_.count(guard) == 0 &&
      dds_waitset_attach(waitset_, guard, guard) == DDS_RETCODE_OK)
    {
      node_guards_.emplace(guard, node);
    }
  }
  for (auto it = node_guards_.begin(); it != node_guards_.end(); ) {
    if (wanted_guards.count(it->first) == 0) {
      dds_waitset_detach(waitset_, it->first);
      it = node_guards_.erase(it);
    } else {
      ++it;
    }
  }
}

bool Executor::collection_stale()
{
  bool stale = collection_dirty_.exchange(false);
  for (const auto & guard : node_guards_) {
    bool triggered = false;  // executables or groups were added to the node since
    dds_take_guardcondition(guard.first, &triggered);
    stale = stale || triggered;
  }
  if (stale) {
    return true;
  }
  for (const auto & collected : collected_groups_) {
    CallbackGroup::SharedPtr group = collected.group.lock();
    if (!group) {
      return true;
    }
    const bool busy = group->type() == CallbackGroupType::MutuallyExclusive &&
      !group->can_be_taken_from().load();
    if (busy != collected.excluded) {
      return true;  // a group was taken or released since: attach or detach its conditions
    }
  }
  return false;
}

void Executor::collect(Live & live)
{
  if (collection_stale()) {
    collect_and_attach(live);
    return;
  }
  for (const auto & entry : collected_live_) {
    Waitable::SharedPtr waitable = entry.waitable.lock();
    CallbackGroup::SharedPtr group = entry.group.lock();
    if (waitable && group) {
      live.emplace_back(std::move(waitable), std::move(group));
    }
  }
}

bool Executor::poll_conditions(std::vector<Entry> & found)
{
  // With the poll guard raised the wait set returns at once with everything triggered; a
  // zero-timeout wait with nothing triggered would cost a timed futex wait, and reading each
  // condition on its own costs an entity lock per entity.
  dds_set_guardcondition(poll_guard_, true);
  return block_on_wait_set(std::chrono::nanoseconds(0), found);
}

void Executor::wait_for_work(
  std::chrono::nanoseconds timeout, bool poll, std::vector<Entry> & found)
{
  // Counted before collecting: a group released after this point sees the count and interrupts;
  // one released before it is collected (sequentially consistent atomics on both sides).
  waiting_.fetch_add(1);
  struct Leave
  {
    std::atomic<int> & waiting;
    ~Leave() {waiting.fetch_sub(1);}
  } leave{waiting_};
  Live live;
  collect(live);

  // Time-based executables (timers) bound the wait; a due one makes it zero.
  std::chrono::nanoseconds wait = timeout;
  for (const auto & [waitable, group] : live) {
    const std::chrono::nanoseconds until = waitable->time_until_ready();
    if (until == std::chrono::nanoseconds::max()) {
      continue;
    }
    const auto clipped = std::max(until, std::chrono::nanoseconds(0));
    wait = wait < std::chrono::nanoseconds(0) ? clipped : std::min(wait, clipped);
  }

  // A zero-timeout DDS wait with nothing triggered still costs a timed futex wait: when work is
  // known to be ready or nobody wants to block, look through the poll guard instead.
  bool looked = false;
  if (poll || wait == std::chrono::nanoseconds(0)) {
    // An interrupt or node change seen here ends the pass: the next one collects afresh rather
    // than blocking on a collection that may be out of date.
    const bool woken = poll_conditions(found);
    looked = !found.empty() || woken || wait == std::chrono::nanoseconds(0);
  }
  if (!looked) {
    block_on_wait_set(wait, found);
  }

  // Due timers go after the DDS work found with them (one round each).
  for (const auto & [waitable, group] : live) {
    const std::chrono::nanoseconds until = waitable->time_until_ready();
    if (until == std::chrono::nanoseconds::max() || until > std::chrono::nanoseconds(0)) {
      continue;
    }
    const bool listed = std::any_of(
      found.begin(), found.end(),
      [&waitable = waitable](const Entry & entry) {return entry.waitable.lock() == waitable;});
    if (!listed) {
      found.push_back(Entry{waitable, group});
    }
  }
}

bool Executor::block_on_wait_set(std::chrono::nanoseconds wait, std::vector<Entry> & found)
{
  bool woken = false;
  triggered_.resize(attached_.size() + node_guards_.size() + 2);
  const dds_duration_t reltimeout = wait < std::chrono::nanoseconds(0) ? DDS_INFINITY : wait.count();
  const dds_return_t n = dds_waitset_wait(waitset_, triggered_.data(), triggered_.size(), reltimeout);
  const size_t count = n > 0 ? std::min(static_cast<size_t>(n), triggered_.size()) : 0;
  for (size_t i = 0; i < count; ++i) {
    const auto entity = static_cast<int32_t>(triggered_[i]);
    if (entity == poll_guard_ || entity == interrupt_guard_ || node_guards_.count(entity) != 0) {
      bool was_triggered = false;
      dds_take_guardcondition(entity, &was_triggered);
      if (entity != poll_guard_ && entity != interrupt_guard_) {
        collection_dirty_ = true;  // executables or groups were added to a node
      }
      woken = woken || entity != poll_guard_;
      continue;
    }
    auto it = attached_.find(entity);
    if (it != attached_.end()) {
      found.push_back(it->second);
    }
  }
  return woken;
}

void Executor::refresh_ready(
  std::unique_lock<std::mutex> & lock, std::chrono::nanoseconds timeout)
{
  waiter_active_ = true;
  const bool poll = known_ready_;
  known_ready_ = false;
  std::vector<Entry> found;
  lock.unlock();
  try {
    wait_for_work(timeout, poll, found);
  } catch (...) {
    lock.lock();
    waiter_active_ = false;
    work_cv_.notify_one();
    throw;
  }
  lock.lock();
  waiter_active_ = false;
  ready_.insert(ready_.end(), found.begin(), found.end());
  // One thread per item found (the caller takes one), and one to take over the waiting.
  for (size_t i = 0; i < std::max<size_t>(1, found.size()); ++i) {
    work_cv_.notify_one();
  }
}

void Executor::release_group(const CallbackGroup::SharedPtr & group)
{
  if (group && group->type() == CallbackGroupType::MutuallyExclusive) {
    group->can_be_taken_from() = true;
    if (waiting_.load() > 0) {
      interrupt();  // the waiting thread collected without this group's conditions
    }
  }
}

bool Executor::take_ready(std::unique_lock<std::mutex> & lock, AnyExecutable & any)
{
  while (!ready_.empty()) {
    Entry entry = ready_.front();
    ready_.pop_front();
    Waitable::SharedPtr waitable = entry.waitable.lock();
    CallbackGroup::SharedPtr group = entry.group.lock();
    if (!waitable || !group) {
      continue;
    }
    const bool exclusive = group->type() == CallbackGroupType::MutuallyExclusive;
    if (exclusive && !group->can_be_taken_from().exchange(false)) {
      continue;  // its group is busy; the next look after its release finds this again
    }
    // The take (deserialisation included) runs while other threads wait or take.
    lock.unlock();
    std::shared_ptr<void> data;
    try {
      data = waitable->take_data();
    } catch (...) {
      if (exclusive) {
        release_group(group);
      }
      lock.lock();
      throw;
    }
    if (!data) {
      if (exclusive) {
        release_group(group);
      }
      lock.lock();
      continue;
    }
    lock.lock();
    known_ready_ = true;  // it may hold more: the next look polls instead of blocking
    any.waitable = std::move(waitable);
    any.group = std::move(group);
    any.data = std::move(data);
    return true;
  }
  return false;
}

bool Executor::get_next_executable(AnyExecutable & any, std::chrono::nanoseconds timeout)
{
  const bool forever = timeout < std::chrono::nanoseconds(0);
  const auto deadline = Clock::now() + (forever ? std::chrono::nanoseconds(0) : timeout);
  std::unique_lock<std::mutex> lock(wait_mutex_);
  for (;;) {
    if (!spinning_ || !context_->is_valid()) {
      work_cv_.notify_all();  // the others stop too
      return false;
    }
    if (take_ready(lock, any)) {
      return true;
    }
    std::chrono::nanoseconds left(-1);
    if (!forever) {
      left = std::max(
        std::chrono::nanoseconds(0),
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()));
    }
    if (waiter_active_) {
      // Another thread is looking at the wait set; it wakes one thread per item it finds.
      if (forever) {
        work_cv_.wait(lock);
      } else if (left == std::chrono::nanoseconds(0) ||
        work_cv_.wait_until(lock, deadline) == std::cv_status::timeout)
      {
        return take_ready(lock, any);
      }
      continue;
    }
    refresh_ready(lock, left);
    if (take_ready(lock, any)) {
      return true;
    }
    if (!forever && Clock::now() >= deadline) {
      return false;
    }
  }
}

void Executor::execute_any_executable(AnyExecutable & any)
{
  if (!any.waitable) {
    return;
  }
  struct Release
  {
    Executor & executor;
    CallbackGroup::SharedPtr group;
    ~Release() {executor.release_group(group);}
  } release{*this, any.group};
  any.waitable->execute(any.data);
  any.data.reset();
}

void Executor::spin_some(std::chrono::nanoseconds max_duration)
{
  SpinningGuard guard(*this);
  const auto start = Clock::now();
  {
    std::unique_lock<std::mutex> lock(wait_mutex_);
    known_ready_ = true;  // one non-blocking look
    refresh_ready(lock, std::chrono::nanoseconds(0));
  }
  while (spinning_ && context_->is_valid()) {
    AnyExecutable any;
    {
      std::unique_lock<std::mutex> lock(wait_mutex_);
      if (!take_ready(lock, any)) {
        break;
      }
    }
    execute_any_executable(any);
    if (max_duration > std::chrono::nanoseconds(0) && Clock::now() - start >= max_duration) {
      break;
    }
  }
}

void Executor::spin_all(std::chrono::nanoseconds max_duration)
{
  SpinningGuard guard(*this);
  const auto start = Clock::now();
  while (spinning_ && context_->is_valid()) {
    AnyExecutable any;
    {
      std::unique_lock<std::mutex> lock(wait_mutex_);
      if (!take_ready(lock, any)) {
        refresh_ready(lock, std::chrono::nanoseconds(0));
        if (!take_ready(lock, any)) {
          break;
        }
      }
    }
    execute_any_executable(any);
    if (max_duration > std::chrono::nanoseconds(0) && Clock::now() - start >= max_duration) {
      break;
    }
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout)
{
  SpinningGuard guard(*this);
  AnyExecutable any;
  if (get_next_executable(any, timeout)) {
    execute_any_executable(any);
  }
}

void Executor::spin_node_some(const NodeTopics::SharedPtr & node)
{
  add_node(node, false);
  try {
    spin_some();
  } catch (...) {
    remove_node(node, false);
    throw;
  }
  remove_node(node, false);
}

}  // namespace rclcdds
