// Parameter values: typing, exact exception texts, message round trips.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "rclcdds/parameter.hpp"

namespace
{

using rclcdds::Parameter;
using rclcdds::ParameterType;
using rclcdds::ParameterValue;

TEST(ParameterValue, TypeOfEachConstructor)
{
  const std::vector<std::pair<ParameterValue, ParameterType>> cases = {
    {ParameterValue(), rclcdds::PARAMETER_NOT_SET},
    {ParameterValue(true), rclcdds::PARAMETER_BOOL},
    {ParameterValue(3), rclcdds::PARAMETER_INTEGER},
    {ParameterValue(int64_t{1} << 40), rclcdds::PARAMETER_INTEGER},
    {ParameterValue(1.5f), rclcdds::PARAMETER_DOUBLE},
    {ParameterValue(2.5), rclcdds::PARAMETER_DOUBLE},
    {ParameterValue("text"), rclcdds::PARAMETER_STRING},
    {ParameterValue(std::string("text")), rclcdds::PARAMETER_STRING},
    {ParameterValue(std::vector<uint8_t>{1, 2}), rclcdds::PARAMETER_BYTE_ARRAY},
    {ParameterValue(std::vector<bool>{true}), rclcdds::PARAMETER_BOOL_ARRAY},
    {ParameterValue(std::vector<int>{1, 2}), rclcdds::PARAMETER_INTEGER_ARRAY},
    {ParameterValue(std::vector<int64_t>{1}), rclcdds::PARAMETER_INTEGER_ARRAY},
    {ParameterValue(std::vector<float>{1.f}), rclcdds::PARAMETER_DOUBLE_ARRAY},
    {ParameterValue(std::vector<double>{1.0}), rclcdds::PARAMETER_DOUBLE_ARRAY},
    {ParameterValue(std::vector<std::string>{"a"}), rclcdds::PARAMETER_STRING_ARRAY},
  };
  for (const auto & c : cases) {
    EXPECT_EQ(c.first.get_type(), c.second) << rclcdds::to_string(c.second);
  }
}

TEST(ParameterValue, WrongTypeThrowsWithExpectedAndActual)
{
  const ParameterValue v(2.0);
  try {
    v.get<int64_t>();
    FAIL() << "no exception";
  } catch (const rclcdds::ParameterTypeException & e) {
    EXPECT_STREQ(e.what(), "expected [integer] got [double]");
  }
  EXPECT_THROW(v.get<bool>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(v.get<std::string>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(ParameterValue(2).get<double>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(ParameterValue(2).get<float>(), rclcdds::ParameterTypeException);
}

TEST(ParameterValue, VectorConversionsOfIntAndFloat)
{
  EXPECT_EQ(ParameterValue(std::vector<int64_t>{1, -2}).get<std::vector<int>>(), (std::vector<int>{1, -2}));
  EXPECT_EQ(
    ParameterValue(std::vector<double>{0.5}).get<std::vector<float>>(), (std::vector<float>{0.5f}));
  EXPECT_THROW(
    ParameterValue(std::vector<double>{0.5}).get<std::vector<int>>(), rclcdds::ParameterTypeException);
}

TEST(ParameterValue, MessageRoundTripKeepsOnlySelectedMember)
{
  rcl_interfaces::msg::ParameterValue msg;
  msg.type = rclcdds::PARAMETER_DOUBLE;
  msg.double_value = 4.25;
  msg.integer_value = 99;  // ignored: not the selected member
  const ParameterValue v(msg);
  EXPECT_EQ(v.get<double>(), 4.25);
  EXPECT_EQ(v, ParameterValue(4.25));
  EXPECT_EQ(v.to_value_msg().integer_value, 0);
  msg.type = 200;
  EXPECT_THROW(ParameterValue{msg}, std::runtime_error);
}

TEST(ParameterValue, ToString)
{
  EXPECT_EQ(rclcdds::to_string(ParameterValue(true)), "true");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(-7)), "-7");
  EXPECT_EQ(rclcdds::to_string(ParameterValue("x y")), "x y");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<int64_t>{1, 2, 3})), "[1, 2, 3]");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<bool>{true, false})), "[true, false]");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<uint8_t>{255, 0})), "[255, 0]");
}

TEST(Parameter, TypedReadNamesTheParameterOnMismatch)
{
  const auto message_of = [](const std::function<void()> & read) -> std::string {
      try {
        read();
      } catch (const rclcdds::exceptions::InvalidParameterTypeException & e) {
        return e.what();
      }
      return "no exception";
    };
  EXPECT_EQ(
    message_of([] {Parameter("executors", "four").get_value<int>();}),
    "parameter 'executors' has invalid type: expected [integer] got [string]");
  EXPECT_EQ(
    message_of([] {Parameter("cloud_x_leafSize", 1).get_value<double>();}),
    "parameter 'cloud_x_leafSize' has invalid type: expected [double] got [integer]");
  EXPECT_EQ(
    message_of([] {Parameter("ids", std::vector<int64_t>{1}).get_value<std::vector<std::string>>();}),
    "parameter 'ids' has invalid type: expected [string_array] got [integer_array]");
  EXPECT_THROW(Parameter("a", 5).as_double(), rclcdds::ParameterTypeException);
  EXPECT_EQ(Parameter("a", std::vector<std::string>{"p", "q"}).as_string_array().size(), 2u);
}

TEST(Parameter, MessageRoundTrip)
{
  const Parameter p("trash_detection.trash_class_type", std::vector<std::string>{"PAPER", "CUP"});
  const auto msg = p.to_parameter_msg();
  EXPECT_EQ(msg.name, "trash_detection.trash_class_type");
  EXPECT_EQ(Parameter::from_parameter_msg(msg), p);
  EXPECT_EQ(
    rclcdds::to_string(Parameter("n", 3)),
    "{\"n\": {\"type\": \"integer\", \"value\": \"3\"}}");
}

TEST(Parameter, NaNSurvivesRoundTrip)
{
  const Parameter p("x", std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(Parameter::from_parameter_msg(p.to_parameter_msg()).as_double()));
}

}  // namespace
