#include "rclcdds/time_source.hpp"

#include <algorithm>
#include <stdexcept>

namespace rclcdds
{

namespace
{
constexpr const char kUseSimTime[] = "use_sim_time";
}  // namespace

TimeSource::TimeSource(bool use_sim_time)
: use_sim_time_(use_sim_time)
{
}

TimeSource::~TimeSource()
{
  detachParameters();
}

void TimeSource::attachParameters(node_interfaces::NodeParameters & parameters)
{
  bool use_sim_time = false;
  if (parameters.has_parameter(kUseSimTime)) {
    parameters.get_parameter(kUseSimTime, use_sim_time);
  } else {
    use_sim_time = parameters.declare_parameter(kUseSimTime, ParameterValue(false)).get<bool>();
  }
  validate_handle_ = parameters.add_on_set_parameters_callback(
    [](const std::vector<Parameter> & changes) {
      rcl_interfaces::msg::SetParametersResult result;
      result.successful = true;
      for (const Parameter & p : changes) {
        if (p.get_name() == kUseSimTime && p.get_type() != PARAMETER_BOOL) {
          result.successful = false;
          result.reason = "'use_sim_time' must be a bool";
        }
      }
      return result;
    });
  apply_handle_ = parameters.add_post_set_parameters_callback(
    [this](const std::vector<Parameter> & changes) {
      for (const Parameter & p : changes) {
        if (p.get_name() == kUseSimTime && p.get_type() == PARAMETER_BOOL) {
          set_use_sim_time(p.as_bool());
        }
      }
    });
  set_use_sim_time(use_sim_time);
}

void TimeSource::detachParameters()
{
  validate_handle_.reset();
  apply_handle_.reset();
}

void TimeSource::attachClock(const Clock::SharedPtr & clock)
{
  if (!clock || clock->get_clock_type() != RCL_ROS_TIME) {
    throw std::invalid_argument("Cannot attach clock to a time source that's not a ROS clock");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  clocks_.push_back(clock);
  if (use_sim_time_) {
    clock->set_ros_time_override(last_clock_);
    clock->set_ros_time_override_active(true);
  }
}

void TimeSource::detachClock(const Clock::SharedPtr & clock)
{
  std::lock_guard<std::mutex> lock(mutex_);
  clocks_.erase(std::remove(clocks_.begin(), clocks_.end(), clock), clocks_.end());
}

void TimeSource::set_clock_subscription_handler(ClockSubscriptionHandler handler)
{
  std::lock_guard<std::mutex> lock(mutex_);
  subscription_handler_ = std::move(handler);
  if (subscription_handler_) {
    subscription_handler_(use_sim_time_);
  }
}

void TimeSource::clock_callback(const rosgraph_msgs::msg::Clock & msg)
{
  std::lock_guard<std::mutex> lock(mutex_);
  last_clock_ = Time(msg.clock, RCL_ROS_TIME);
  if (!use_sim_time_) {
    return;
  }
  for (const auto & clock : clocks_) {
    clock->set_ros_time_override(last_clock_);
  }
}

bool TimeSource::get_use_sim_time() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return use_sim_time_;
}

void TimeSource::set_use_sim_time(bool use_sim_time)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (use_sim_time == use_sim_time_) {
    return;
  }
  use_sim_time_ = use_sim_time;
  for (const auto & clock : clocks_) {
    if (use_sim_time) {
      clock->set_ros_time_override(last_clock_);
    }
    clock->set_ros_time_override_active(use_sim_time);
  }
  if (subscription_handler_) {
    subscription_handler_(use_sim_time);
  }
}

}  // namespace rclcdds
