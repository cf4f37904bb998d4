#include "rclcdds/lifecycle/lifecycle_node_interface.hpp"
#include "rclcdds/lifecycle/lifecycle_publisher.hpp"

#include "runtime_log.hpp"

namespace rclcdds_lifecycle
{
namespace node_interfaces
{

using CallbackReturn = LifecycleNodeInterface::CallbackReturn;

CallbackReturn LifecycleNodeInterface::on_configure(const State &) {return CallbackReturn::SUCCESS;}
CallbackReturn LifecycleNodeInterface::on_cleanup(const State &) {return CallbackReturn::SUCCESS;}
CallbackReturn LifecycleNodeInterface::on_shutdown(const State &) {return CallbackReturn::SUCCESS;}
CallbackReturn LifecycleNodeInterface::on_activate(const State &) {return CallbackReturn::SUCCESS;}
CallbackReturn LifecycleNodeInterface::on_deactivate(const State &) {return CallbackReturn::SUCCESS;}
CallbackReturn LifecycleNodeInterface::on_error(const State &) {return CallbackReturn::SUCCESS;}

}  // namespace node_interfaces

namespace detail
{
void warn_publisher_not_activated(const std::string & message)
{
  rclcdds::detail::runtime_logger()->warn("{}", message);
}
}  // namespace detail

}  // namespace rclcdds_lifecycle
