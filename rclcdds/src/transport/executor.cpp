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
  if (waitset_ < 0 || interrupt_guard_ < 0) {
    throw std::runtime_error("cannot create the executor's wait set");
  }
  dds_waitset_attach(waitset_, interrupt_guard_, interrupt_guard_);
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
  if (notify) {
    interrupt();
  }
}

void Executor::cancel()
{
  spinning_ = false;
  interrupt();
}

void Executor::interrupt()
{
  dds_set_guardcondition(interrupt_guard_, true);
}

void Executor::collect_and_attach(
  std::vector<std::pair<Waitable::SharedPtr, CallbackGroup::SharedPtr>> & live)
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
  for (const auto & [group, node] : groups) {
    (void)node;
    if (group->type() == CallbackGroupType::MutuallyExclusive &&
      !group->can_be_taken_from().load())
    {
      continue;  // one of its callbacks is running; wake again when it is released
    }
    waitables.clear();
    group->collect(waitables);
    for (auto & waitable : waitables) {
      live.emplace_back(std::move(waitable), group);
    }
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

bool Executor::wait_for_work(std::chrono::nanoseconds timeout)
{
  // Counted before collecting: a group released after this point sees the count and interrupts;
  // one released before it is collected (sequentially consistent atomics on both sides).
  waiting_.fetch_add(1);
  struct Leave
  {
    std::atomic<int> & waiting;
    ~Leave() {waiting.fetch_sub(1);}
  } leave{waiting_};
  std::vector<std::pair<Waitable::SharedPtr, CallbackGroup::SharedPtr>> live;
  collect_and_attach(live);

  // Time-based executables (timers) bound the wait.
  std::chrono::nanoseconds wait = timeout;
  for (const auto & [waitable, group] : live) {
    const std::chrono::nanoseconds until = waitable->time_until_ready();
    if (until != std::chrono::nanoseconds::max()) {
      const auto clipped = std::max(until, std::chrono::nanoseconds(0));
      wait = wait < std::chrono::nanoseconds(0) ? clipped : std::min(wait, clipped);
    }
  }

  std::vector<dds_attach_t> triggered(attached_.size() + node_guards_.size() + 1);
  const dds_duration_t reltimeout = wait < std::chrono::nanoseconds(0) ? DDS_INFINITY : wait.count();
  const dds_return_t n = dds_waitset_wait(waitset_, triggered.data(), triggered.size(), reltimeout);
  const size_t count = n > 0 ? std::min(static_cast<size_t>(n), triggered.size()) : 0;
  for (size_t i = 0; i < count; ++i) {
    const auto entity = static_cast<int32_t>(triggered[i]);
    if (entity == interrupt_guard_ || node_guards_.count(entity) != 0) {
      bool was_triggered = false;
      dds_take_guardcondition(entity, &was_triggered);
      continue;
    }
    auto it = attached_.find(entity);
    if (it != attached_.end()) {
      ready_.push_back(it->second);
    }
  }
  for (const auto & [waitable, group] : live) {
    const std::chrono::nanoseconds until = waitable->time_until_ready();
    if (until != std::chrono::nanoseconds::max() && until <= std::chrono::nanoseconds(0)) {
      ready_.push_back(Entry{waitable, group});
    }
  }
  return !ready_.empty();
}

bool Executor::take_ready(AnyExecutable & any)
{
  while (!ready_.empty()) {
    Entry entry = ready_.front();
    ready_.erase(ready_.begin());
    Waitable::SharedPtr waitable = entry.waitable.lock();
    CallbackGroup::SharedPtr group = entry.group.lock();
    if (!waitable || !group) {
      continue;
    }
    const bool exclusive = group->type() == CallbackGroupType::MutuallyExclusive;
    if (exclusive && !group->can_be_taken_from().load()) {
      continue;  // its group is busy; the condition fires again once the group is released
    }
    std::shared_ptr<void> data = waitable->take_data();
    if (!data) {
      continue;
    }
    if (exclusive) {
      group->can_be_taken_from() = false;
    }
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
  std::lock_guard<std::mutex> lock(wait_mutex_);
  for (;;) {
    if (!spinning_ || !context_->is_valid()) {
      return false;
    }
    if (take_ready(any)) {
      return true;
    }
    std::chrono::nanoseconds left(-1);
    if (!forever) {
      left = std::max(
        std::chrono::nanoseconds(0),
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()));
    }
    wait_for_work(left);
    if (take_ready(any)) {
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
    ~Release()
    {
      if (group && group->type() == CallbackGroupType::MutuallyExclusive) {
        group->can_be_taken_from() = true;
        if (executor.waiting_.load() > 0) {
          executor.interrupt();  // a waiting thread collected without this group's conditions
        }
      }
    }
  } release{*this, any.group};
  any.waitable->execute(any.data);
  any.data.reset();
}

void Executor::spin_some(std::chrono::nanoseconds max_duration)
{
  SpinningGuard guard(*this);
  const auto start = Clock::now();
  {
    std::lock_guard<std::mutex> lock(wait_mutex_);
    wait_for_work(std::chrono::nanoseconds(0));
  }
  while (spinning_ && context_->is_valid()) {
    AnyExecutable any;
    {
      std::lock_guard<std::mutex> lock(wait_mutex_);
      if (!take_ready(any)) {
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
      std::lock_guard<std::mutex> lock(wait_mutex_);
      if (!take_ready(any)) {
        wait_for_work(std::chrono::nanoseconds(0));
        if (!take_ready(any)) {
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
