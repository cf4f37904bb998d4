// Input a hostile peer controls, without DDS: parameter requests with out-of-range enum values
// and the rate limit of the warnings such input causes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "runtime/parameter_requests.hpp"
#include "transport/warning_limiter.hpp"

namespace
{

using rclcdds::node_interfaces::NodeParameters;
using rcl_interfaces::msg::ParameterType;

rcl_interfaces::msg::Parameter parameter_message(
  const std::string & name, uint8_t type, double value)
{
  rcl_interfaces::msg::Parameter message;
  message.name = name;
  message.value.type = type;
  message.value.double_value = value;
  return message;
}

class ParameterRequests : public ::testing::Test
{
protected:
  ParameterRequests() : store_("/victim", rclcdds::NodeOptions(), nullptr)
  {
    store_.declare_parameter("gain", rclcdds::ParameterValue(1.5));
  }

  double gain() const {return store_.get_parameter("gain").as_double();}

  NodeParameters store_;
};

// Refused in its own result beside parameters that are set; an atomic set is refused whole.
TEST_F(ParameterRequests, AnUnknownValueTypeIsRefusedAloneOrAtomicallyWhole)
{
  rcl_interfaces::srv::SetParameters::Request request;
  request.parameters = {
    parameter_message("gain", 200, 9.0),
    parameter_message("gain", ParameterType::PARAMETER_DOUBLE, 2.0),
    parameter_message("missing", ParameterType::PARAMETER_DOUBLE, 3.0)};
  rcl_interfaces::srv::SetParameters::Response response;
  ASSERT_NO_THROW(rclcdds::detail::answer_set_parameters(store_, request, response));
  ASSERT_EQ(response.results.size(), 3u);
  EXPECT_FALSE(response.results[0].successful);
  EXPECT_EQ(response.results[0].reason, "unknown parameter type 200");
  EXPECT_TRUE(response.results[1].successful);
  EXPECT_FALSE(response.results[2].successful);
  EXPECT_EQ(response.results[2].reason, rclcdds::detail::kParameterNotDeclared);
  EXPECT_DOUBLE_EQ(gain(), 2.0);

  rcl_interfaces::srv::SetParametersAtomically::Request atomic;
  atomic.parameters = {
    parameter_message("gain", ParameterType::PARAMETER_DOUBLE, 3.0),
    parameter_message("gain", 10, 9.0)};
  rcl_interfaces::srv::SetParametersAtomically::Response atomic_response;
  ASSERT_NO_THROW(
    rclcdds::detail::answer_set_parameters_atomically(store_, atomic, atomic_response));
  EXPECT_FALSE(atomic_response.result.successful);
  EXPECT_EQ(atomic_response.result.reason, "unknown parameter type 10");
  EXPECT_DOUBLE_EQ(gain(), 2.0);
}

TEST_F(ParameterRequests, EveryTypeByteAndUnknownNamesAreAnsweredWithoutThrowing)
{
  for (int type = 0; type <= 255; ++type) {
    rcl_interfaces::srv::SetParameters::Request set;
    set.parameters = {parameter_message("gain", static_cast<uint8_t>(type), 1.5)};
    rcl_interfaces::srv::SetParameters::Response set_response;
    ASSERT_NO_THROW(rclcdds::detail::answer_set_parameters(store_, set, set_response)) << type;
    ASSERT_EQ(set_response.results.size(), 1u);
    // Only a double may replace the double: every other byte is refused.
    EXPECT_EQ(set_response.results[0].successful, type == ParameterType::PARAMETER_DOUBLE) << type;
  }
  rcl_interfaces::srv::ListParameters::Request list;
  list.depth = UINT64_MAX;
  list.prefixes = {"", "gain", std::string(1000, '.')};
  rcl_interfaces::srv::ListParameters::Response list_response;
  std::string error;
  ASSERT_NO_THROW(rclcdds::detail::answer_list_parameters(store_, list, list_response, error));
  // A get naming an unknown parameter answers empty, with the reason.
  rcl_interfaces::srv::GetParameters::Request get;
  get.names = {"gain", std::string("\x1b[2J", 4)};
  rcl_interfaces::srv::GetParameters::Response get_response;
  rclcdds::detail::answer_get_parameters(store_, get, get_response, error);
  EXPECT_TRUE(get_response.values.empty());
  EXPECT_FALSE(error.empty());
}

TEST(WarningLimiter, PrintsOncePerPeriodCountsWhatItHeldBackAndBoundsUntrustedText)
{
  using std::chrono::milliseconds;
  rclcdds::detail::WarningLimiter limiter(milliseconds(1000));
  const auto t0 = rclcdds::detail::WarningLimiter::Clock::time_point{} + std::chrono::hours(1);
  struct Step
  {
    int at_ms;
    bool printed;
    uint64_t suppressed;
  };
  const std::vector<Step> steps = {
    {0, true, 0}, {1, false, 0}, {500, false, 0}, {999, false, 0},
    {1000, true, 3}, {1500, false, 0}, {5000, true, 1}, {9000, true, 0}};
  for (const Step & step : steps) {
    uint64_t suppressed = 99;
    EXPECT_EQ(limiter.allow(t0 + milliseconds(step.at_ms), suppressed), step.printed) << step.at_ms;
    EXPECT_EQ(suppressed, step.suppressed) << step.at_ms;
  }
  EXPECT_EQ(rclcdds::detail::WarningLimiter::suffix(0), "");
  EXPECT_EQ(rclcdds::detail::WarningLimiter::suffix(3), " (3 similar warnings suppressed)");
  // Untrusted text in a warning is printable and bounded.
  EXPECT_EQ(rclcdds::detail::printable("plain"), "plain");
  EXPECT_EQ(rclcdds::detail::printable("a\nb\x1b[0m"), "a\\x0ab\\x1b[0m");
  EXPECT_EQ(rclcdds::detail::printable(std::string(10, 'x'), 4), "xxxx...");
  EXPECT_EQ(rclcdds::detail::printable("\\x41"), "\\x5cx41");
}

}  // namespace
