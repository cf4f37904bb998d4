#include "rclcdds/callback_group.hpp"

#include <algorithm>

namespace rclcdds
{

CallbackGroup::CallbackGroup(CallbackGroupType group_type, bool automatically_add_to_executor_with_node)
: type_(group_type), auto_add_(automatically_add_to_executor_with_node)
{
}

void CallbackGroup::add_waitable(const Waitable::SharedPtr & waitable)
{
  std::function<void ()> on_change;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waitables_.push_back(waitable);
    on_change = on_change_;
  }
  if (on_change) {
    on_change();
  }
}

void CallbackGroup::collect(std::vector<Waitable::SharedPtr> & out)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto live_end = std::remove_if(
    waitables_.begin(), waitables_.end(),
    [&out](const Waitable::WeakPtr & weak) {
      Waitable::SharedPtr waitable = weak.lock();
      if (!waitable) {
        return true;
      }
      out.push_back(std::move(waitable));
      return false;
    });
  waitables_.erase(live_end, waitables_.end());
}

size_t CallbackGroup::size() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(
           waitables_.begin(), waitables_.end(),
           [](const Waitable::WeakPtr & weak) {return !weak.expired();}));
}

void CallbackGroup::set_on_change(std::function<void ()> on_change)
{
  std::lock_guard<std::mutex> lock(mutex_);
  on_change_ = std::move(on_change);
}

}  // namespace rclcdds
