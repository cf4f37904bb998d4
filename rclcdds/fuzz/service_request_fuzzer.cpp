// libFuzzer target for the request paths of the services every node serves: arbitrary bytes
// decoded as a parameter or lifecycle service request (with the service prefix), and every
// accepted request answered as the node answers it, then the reply serialised. The first byte
// picks the service; the rest is the payload. Built and run by fuzz/run_fuzz.sh.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include "rclcdds/lifecycle/state_machine.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "rclcdds/serialization.hpp"
#include "runtime/parameter_requests.hpp"

namespace
{

namespace srv = rcl_interfaces::srv;
using rclcdds::node_interfaces::NodeParameters;

/// A store like a node's: parameters of every kind, a read-only one and a ranged one.
std::unique_ptr<NodeParameters> make_store()
{
  auto store = std::make_unique<NodeParameters>("/fuzz/victim", rclcdds::NodeOptions(), nullptr);
  store->declare_parameter("gain", rclcdds::ParameterValue(1.5));
  store->declare_parameter("limit", rclcdds::ParameterValue(int64_t{10}));
  store->declare_parameter("mode", rclcdds::ParameterValue(std::string("auto")));
  store->declare_parameter("flags", rclcdds::ParameterValue(std::vector<bool>{true, false}));
  store->declare_parameter("cam1.names", rclcdds::ParameterValue(std::vector<std::string>{"a"}));
  rcl_interfaces::msg::ParameterDescriptor read_only;
  read_only.read_only = true;
  store->declare_parameter("serial", rclcdds::ParameterValue(std::string("x")), read_only);
  rcl_interfaces::msg::ParameterDescriptor ranged;
  ranged.floating_point_range.resize(1);
  ranged.floating_point_range[0].from_value = 0.0;
  ranged.floating_point_range[0].to_value = 1.0;
  store->declare_parameter("slope", rclcdds::ParameterValue(0.3), ranged);
  return store;
}

template<class ServiceT>
bool decode(const uint8_t * data, size_t size, typename ServiceT::Request & request)
{
  rclcdds::ServicePrefix prefix;
  return rclcdds::deserialize_message(
    rclcdds::get_message_members<typename ServiceT::Request>(), data, size, &request, &prefix);
}

template<class ServiceT>
void reply(const typename ServiceT::Response & response)
{
  rclcdds::ServicePrefix prefix{1, 2};
  rclcdds::SerializedMessage out;
  rclcdds::serialize_message(
    rclcdds::get_message_members<typename ServiceT::Response>(), &response, out, &prefix);
}

/// Answers of one service: decode, answer as the node does, serialise the reply.
template<class ServiceT, class Answer>
void serve(const uint8_t * data, size_t size, Answer answer)
{
  typename ServiceT::Request request;
  if (!decode<ServiceT>(data, size, request)) {
    return;
  }
  typename ServiceT::Response response;
  answer(request, response);
  reply<ServiceT>(response);
}

class Managed : public rclcdds_lifecycle::node_interfaces::LifecycleNodeInterface
{
};

/// ~/change_state as the lifecycle node answers it: a label wins over the id.
void change_state(
  rclcdds_lifecycle::LifecycleStateMachine & machine,
  const lifecycle_msgs::srv::ChangeState::Request & request,
  lifecycle_msgs::srv::ChangeState::Response & response)
{
  uint8_t id = request.transition.id;
  if (!request.transition.label.empty()) {
    bool found = false;
    for (const auto & transition : machine.get_available_transitions()) {
      if (transition.label() == request.transition.label) {
        id = transition.id();
        found = true;
      }
    }
    if (!found) {
      response.success = false;
      return;
    }
  }
  rclcdds_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn code;
  response.success = machine.change_state(id, code) &&
    code == rclcdds_lifecycle::node_interfaces::LifecycleNodeInterface::CallbackReturn::SUCCESS;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size)
{
  if (size < 1) {
    return 0;
  }
  const uint8_t selector = data[0];
  ++data;
  --size;
  auto store = make_store();
  std::string error;
  switch (selector % 8) {
    case 0:
      serve<srv::GetParameters>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_get_parameters(*store, rq, rs, error);
        });
      break;
    case 1:
      serve<srv::GetParameterTypes>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_get_parameter_types(*store, rq, rs, error);
        });
      break;
    case 2:
      serve<srv::SetParameters>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_set_parameters(*store, rq, rs);
        });
      break;
    case 3:
      serve<srv::SetParametersAtomically>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_set_parameters_atomically(*store, rq, rs);
        });
      break;
    case 4:
      serve<srv::DescribeParameters>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_describe_parameters(*store, rq, rs, error);
        });
      break;
    case 5:
      serve<srv::ListParameters>(data, size, [&](const auto & rq, auto & rs) {
          rclcdds::detail::answer_list_parameters(*store, rq, rs, error);
        });
      break;
    case 6: {
        Managed node;
        rclcdds_lifecycle::LifecycleStateMachine machine(&node);
        machine.set_log_sink([](const std::string &) {}, [](const std::string &) {});
        serve<lifecycle_msgs::srv::ChangeState>(data, size, [&](const auto & rq, auto & rs) {
            change_state(machine, rq, rs);
          });
        break;
      }
    default: {
        lifecycle_msgs::srv::GetState::Request request;
        decode<lifecycle_msgs::srv::GetState>(data, size, request);
        break;
      }
  }
  return 0;
}
