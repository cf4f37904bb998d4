// Command-line ROS arguments and name remapping.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "rclcdds/arguments.hpp"
#include "rclcdds/exceptions.hpp"

namespace
{

using rclcdds::Arguments;
using rclcdds::ParameterValue;
using rclcdds::RemapRule;

TEST(Arguments, SeparatesRosAndNonRosArgumentsAndReadsLogSwitches)
{
  const auto args = Arguments::parse(
    {"object_detect", "--verbose", "--ros-args", "-p", "executors:=4", "--", "file.txt",
      "--ros-args", "--log-level", "debug"});
  EXPECT_EQ(args.non_ros_args(), (std::vector<std::string>{"object_detect", "--verbose", "file.txt"}));
  ASSERT_EQ(args.parameter_overrides().size(), 1u);
  EXPECT_EQ(args.parameter_overrides()[0].node_pattern, "/**");
  EXPECT_EQ(args.parameter_overrides()[0].parameter.get_name(), "executors");
  EXPECT_EQ(args.parameter_overrides()[0].parameter.get_parameter_value(), ParameterValue(4));
  ASSERT_TRUE(args.log_level().has_value());
  EXPECT_EQ(*args.log_level(), "debug");

  const char * argv[] = {"prog", "a", "--ros-args", "-r", "__node:=n", "--", "b"};
  EXPECT_EQ(rclcdds::remove_ros_arguments(7, argv), (std::vector<std::string>{"prog", "a", "b"}));
  const auto logging = Arguments::parse(
    {"x", "--ros-args", "--log-level", "WARN", "--log-level", "object_detect:=error",
      "--disable-rosout-logs", "-e", "/secure"});
  EXPECT_EQ(*logging.log_level(), "warn");
  EXPECT_EQ(logging.logger_levels().at("object_detect"), "error");
  EXPECT_EQ(logging.log_flags(), std::vector<std::string>{"--disable-rosout-logs"});
  EXPECT_EQ(logging.enclave(), "/secure");
}

TEST(Arguments, ParameterRulesAreTyped)
{
  const auto args = Arguments::parse(
    {"x", "--ros-args", "--param", "cloud_x_leafSize:=1", "-p", "rate:=1.0", "-p",
      "name:='7'", "-p", "object_detect:debug:=true", "-p", "list:=[a, b]"});
  const auto & p = args.parameter_overrides();
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].parameter.get_type(), rclcdds::PARAMETER_INTEGER);
  EXPECT_EQ(p[1].parameter.get_type(), rclcdds::PARAMETER_DOUBLE);
  EXPECT_EQ(p[2].parameter.get_parameter_value(), ParameterValue("7"));
  EXPECT_EQ(p[3].node_pattern, "/object_detect");
  EXPECT_EQ(p[3].parameter.get_name(), "debug");
  EXPECT_EQ(p[4].parameter.get_type(), rclcdds::PARAMETER_STRING_ARRAY);
}

TEST(Arguments, ParamsFilesAndRulesKeepCommandLineOrder)
{
  const std::string path = ::testing::TempDir() + "/rclcdds_args.yaml";
  {
    std::ofstream out(path);
    out << "/**:\n  ros__parameters:\n    executors: 2\n    cameras: 1\n";
  }
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-p", "executors:=8", "--params-file", path, "-p", "cameras:=3"});
  const auto resolved = rclcdds::resolve_parameter_overrides("/object_detect", args.parameter_overrides());
  EXPECT_EQ(resolved.at("executors"), ParameterValue(2));  // the file came after -p
  EXPECT_EQ(resolved.at("cameras"), ParameterValue(3));
  EXPECT_EQ(args.parameter_files(), std::vector<std::string>{path});
  std::remove(path.c_str());
}

TEST(Arguments, RemapRules)
{
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-r", "__node:=detector", "--remap", "__ns:=/robot", "-r",
      "talker:chatter:=/other", "-r", "rostopic://image:=camera/image", "-r",
      "rosservice://srv:=/srv2"});
  const auto & r = args.remap_rules();
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0].kind, RemapRule::Kind::kNodeName);
  EXPECT_EQ(r[0].replacement, "detector");
  EXPECT_EQ(r[1].kind, RemapRule::Kind::kNamespace);
  EXPECT_EQ(r[2].kind, RemapRule::Kind::kTopicOrService);
  EXPECT_EQ(r[2].node_name, "talker");
  EXPECT_EQ(r[2].match, "chatter");
  EXPECT_EQ(r[3].kind, RemapRule::Kind::kTopic);
  EXPECT_EQ(r[4].kind, RemapRule::Kind::kService);
}

TEST(Arguments, UnknownRosArgumentsAreCollectedOrThrown)
{
  const std::vector<std::string> cmd = {"x", "--ros-args", "--foo", "-p", "a:=1", "--bar"};
  EXPECT_EQ(Arguments::parse(cmd).unknown_ros_args(), (std::vector<std::string>{"--foo", "--bar"}));
  try {
    Arguments::parse_strict(cmd);
    FAIL() << "accepted";
  } catch (const rclcdds::exceptions::UnknownROSArgsError & e) {
    EXPECT_STREQ(e.what(), "found unknown ROS arguments: '--foo', '--bar'");
  }
  EXPECT_NO_THROW(Arguments::parse_strict({"x", "--foo"}));  // not inside --ros-args
}

TEST(Arguments, MalformedRulesThrowClearErrors)
{
  struct Case
  {
    std::vector<std::string> args;
    const char * message;
  };
  const std::vector<Case> cases = {
    {{"x", "--ros-args", "-p"}, "Couldn't parse trailing -p flag: its value is missing"},
    {{"x", "--ros-args", "-p", "--"}, "Couldn't parse trailing -p flag: its value is missing"},
    {{"x", "--ros-args", "-p", "noassign"},
      "Couldn't parse parameter override rule: '-p noassign'. Error: expected 'name:=value'"},
    {{"x", "--ros-args", "-p", "a:="},
      "Couldn't parse parameter override rule: '-p a:='. Error: no value after ':='"},
    {{"x", "--ros-args", "-r", "__ns:=relative"},
      "Couldn't parse remap rule: '-r __ns:=relative'. Error: namespace 'relative' must be absolute"},
    {{"x", "--ros-args", "-r", "a:="},
      "Couldn't parse remap rule: '-r a:='. Error: both sides of ':=' must be given"},
    {{"x", "--ros-args", "--log-level", "loud"},
      "Argument following --log-level is not a valid log level: 'loud' (expected debug, info, "
      "warn, error or fatal)"},
  };
  for (const auto & c : cases) {
    try {
      Arguments::parse(c.args);
      ADD_FAILURE() << "accepted " << c.args.back();
    } catch (const rclcdds::exceptions::InvalidROSArgsError & e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_THROW(
    Arguments::parse({"x", "--ros-args", "--params-file", "/nonexistent.yaml"}),
    rclcdds::exceptions::ParameterFileError);
}

TEST(Remap, NodeNameAndNamespaceLocalRulesFirst)
{
  const auto global = Arguments::parse(
    {"x", "--ros-args", "-r", "__node:=global_name", "-r", "__ns:=/global"});
  const auto local = Arguments::parse({"--ros-args", "-r", "object_detect:__node:=local_name"});
  EXPECT_EQ(rclcdds::remap_node_name("object_detect", &local, &global), "local_name");
  EXPECT_EQ(rclcdds::remap_node_name("other", &local, &global), "global_name");
  EXPECT_EQ(rclcdds::remap_node_name("other", nullptr, nullptr), "other");
  EXPECT_EQ(rclcdds::remap_node_namespace("local_name", "", &local, &global), "/global");
  EXPECT_EQ(rclcdds::remap_node_namespace("n", "ns", nullptr, nullptr), "/ns");
}

TEST(Remap, TopicRulesMatchExpandedNames)
{
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-r", "image:=/camera_01/color/image_raw", "-r", "~/state:=status",
      "-r", "other_node:cmd_vel:=/nav/cmd_vel", "-r", "rosservice://cmd_vel:=/srv/cmd_vel"});
  const auto remap = [&](const std::string & name, bool service = false) {
      const std::string expanded = rclcdds::expand_topic_name(name, "object_detect", "/robot");
      return rclcdds::remap_topic_name(expanded, service, "object_detect", "/robot", &args, nullptr);
    };
  EXPECT_EQ(remap("image"), "/camera_01/color/image_raw");
  EXPECT_EQ(remap("/robot/image"), "/camera_01/color/image_raw");
  EXPECT_EQ(remap("~/state"), "/robot/status");
  EXPECT_EQ(remap("cmd_vel"), "/robot/cmd_vel");  // the node-targeted rule names another node
  EXPECT_EQ(remap("cmd_vel", true), "/srv/cmd_vel");
  EXPECT_EQ(remap("/image"), "/image");
}

}  // namespace
