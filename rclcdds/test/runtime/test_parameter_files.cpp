// Command-line ROS arguments, name remapping and parameter files: typing as rcl does, node
// matching, malformed rules and files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "rclcdds/arguments.hpp"
#include "rclcdds/exceptions.hpp"
#include "rclcdds/parameter_map.hpp"

namespace
{

using rclcdds::Arguments;
using rclcdds::Parameter;
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
  EXPECT_EQ(args.parameter_overrides()[0].parameter, Parameter("executors", 4));
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
  EXPECT_EQ(p[0].parameter, Parameter("cloud_x_leafSize", 1));
  EXPECT_EQ(p[1].parameter, Parameter("rate", 1.0));
  EXPECT_EQ(p[2].parameter, Parameter("name", "7"));
  EXPECT_EQ(p[3].node_pattern, "/object_detect");
  EXPECT_EQ(p[3].parameter, Parameter("debug", true));
  EXPECT_EQ(p[4].parameter, Parameter("list", std::vector<std::string>{"a", "b"}));
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

TEST(ScalarTyping, AsRclTypesYamlScalars)
{
  const std::vector<std::pair<std::vector<const char *>, ParameterValue>> cases = {
    {{"true", "True", "TRUE", "yes", "Y", "on", "ON"}, ParameterValue(true)},
    {{"false", "No", "n", "off"}, ParameterValue(false)},
    {{"1"}, ParameterValue(1)},
    {{"-42"}, ParameterValue(-42)},
    {{"+7"}, ParameterValue(7)},
    {{"0x1F"}, ParameterValue(31)},
    {{"010"}, ParameterValue(8)},
    {{"9223372036854775807"}, ParameterValue(std::numeric_limits<int64_t>::max())},
    {{"9223372036854775808"}, ParameterValue(9223372036854775808.0)},
    {{"1.0"}, ParameterValue(1.0)},
    {{"1e3"}, ParameterValue(1000.0)},
    {{".5"}, ParameterValue(0.5)},
    {{"-2."}, ParameterValue(-2.0)},
    {{".inf"}, ParameterValue(std::numeric_limits<double>::infinity())},
    {{"-.Inf"}, ParameterValue(-std::numeric_limits<double>::infinity())},
  };
  for (const auto & c : cases) {
    for (const char * text : c.first) {
      EXPECT_EQ(rclcdds::parameter_value_from_yaml_scalar(text, false), c.second) << text;
    }
  }
  // Neither a bool nor a number, or quoted: the text itself.
  for (const char * text : {"tRUE", "1_000", "1.0.0", "ESCALATOR_ENTRANCE"}) {
    EXPECT_EQ(rclcdds::parameter_value_from_yaml_scalar(text, false), ParameterValue(text)) << text;
  }
  for (const char * text : {"true", "5", ""}) {
    EXPECT_EQ(rclcdds::parameter_value_from_yaml_scalar(text, true), ParameterValue(text)) << text;
  }
  const ParameterValue nan = rclcdds::parameter_value_from_yaml_scalar(".nan", false);
  ASSERT_EQ(nan.get_type(), rclcdds::PARAMETER_DOUBLE);
  EXPECT_TRUE(std::isnan(nan.get<double>()));
}

TEST(CommandLineValue, RefusesWhatAFileWouldRefuse)
{
  // Accepted command-line values are read back typed in test_node_parameters.cpp.
  for (const char * text : {"", "[1, 2.5]", "{a: 1}", "[]"}) {
    EXPECT_THROW(rclcdds::parameter_value_from_text(text), std::invalid_argument) << text;
  }
}

TEST(NodePattern, Matching)
{
  struct Case
  {
    const char * pattern;
    const char * node;
    bool matches;
  };
  const std::vector<Case> cases = {
    {"/**", "/object_detect", true},
    {"/**", "/robot/object_detect", true},
    {"/*", "/object_detect", true},
    {"/*", "/robot/object_detect", false},
    {"/robot/*", "/robot/object_detect", true},
    {"/robot/*", "/object_detect", false},
    {"/**/object_detect", "/a/b/object_detect", true},
    {"/**/object_detect", "/object_detect", true},
    {"/**/object_detect", "/a/other", false},
    {"/object_detect", "/object_detect", true},
    {"/object_detect", "/robot/object_detect", false},
    {"/object", "/object_detect", false},
  };
  for (const auto & c : cases) {
    EXPECT_EQ(rclcdds::node_pattern_matches(c.pattern, c.node), c.matches)
      << c.pattern << " vs " << c.node;
  }
}

TEST(ParameterFile, NestedKeysArraysWildcardsAndLaterOverridesWin)
{
  const std::string yaml =
    "/**:\n"
    "  ros__parameters:\n"
    "    executors: 2\n"
    "    debug: false\n"
    "object_detect:\n"
    "  ros__parameters:\n"
    "    executors: 4\n"
    "    trash_detection:\n"
    "      close_cam1: true\n"
    "      trash_class_type: [PAPER, 'CUP']\n"
    "    cam1:\n"
    "      max_slope: 0.3\n"
    "    b: [true, off]\n"
    "    i: [1, -2, 0x10]\n"
    "    d: [0.5, 1e2, .inf]\n"
    "    s: [a, '1', \"true\"]\n"
    "robot:\n"
    "  other_node:\n"
    "    ros__parameters:\n"
    "      executors: 9\n"
    "/**:\n"
    "  ros__parameters:\n"
    "    debug: true\n";
  const auto assignments = rclcdds::parse_parameter_yaml(yaml, "inline.yaml");
  const auto resolved = rclcdds::resolve_parameter_overrides("/object_detect", assignments);
  EXPECT_EQ(resolved.at("executors"), ParameterValue(4));
  EXPECT_EQ(resolved.at("debug"), ParameterValue(true));  // the later /** entry wins
  EXPECT_EQ(resolved.at("trash_detection.close_cam1"), ParameterValue(true));
  EXPECT_EQ(
    resolved.at("trash_detection.trash_class_type"),
    ParameterValue(std::vector<std::string>{"PAPER", "CUP"}));
  EXPECT_EQ(resolved.at("cam1.max_slope"), ParameterValue(0.3));
  EXPECT_EQ(resolved.at("b"), ParameterValue(std::vector<bool>{true, false}));
  EXPECT_EQ(resolved.at("i"), ParameterValue(std::vector<int64_t>{1, -2, 16}));
  EXPECT_EQ(resolved.at("d").get<std::vector<double>>()[1], 100.0);
  EXPECT_EQ(resolved.at("s"), ParameterValue(std::vector<std::string>{"a", "1", "true"}));

  const auto other = rclcdds::resolve_parameter_overrides("/robot/other_node", assignments);
  EXPECT_EQ(other.at("executors"), ParameterValue(9));
  EXPECT_EQ(other.count("trash_detection.close_cam1"), 0u);
}

TEST(ParameterFile, RealFileMapsByNodeAndKeepsItsCommandLinePlaceEmptyFilesHoldNothing)
{
  const std::string path = ::testing::TempDir() + "/rclcdds_params.yaml";
  {
    std::ofstream out(path);
    out << "/**:\n  ros__parameters:\n    executors: 2\n    cameras: 1\n"
        << "/ns/cam:\n  ros__parameters:\n    rate: 15\n    rate: 30\n";
  }
  const auto map = rclcdds::parameter_map_from_yaml_file(path);
  ASSERT_EQ(map.count("/ns/cam"), 1u);
  ASSERT_EQ(map.at("/ns/cam").size(), 1u);
  EXPECT_EQ(map.at("/ns/cam")[0], Parameter("rate", 30));
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-p", "executors:=8", "--params-file", path, "-p", "cameras:=3"});
  const auto resolved = rclcdds::resolve_parameter_overrides("/object_detect", args.parameter_overrides());
  EXPECT_EQ(resolved.at("executors"), ParameterValue(2));  // the file came after -p
  EXPECT_EQ(resolved.at("cameras"), ParameterValue(3));
  EXPECT_EQ(args.parameter_files(), std::vector<std::string>{path});
  std::remove(path.c_str());
  EXPECT_TRUE(rclcdds::parse_parameter_yaml("", "empty.yaml").empty());
  EXPECT_TRUE(rclcdds::parse_parameter_yaml("node:\n  ros__parameters:\n", "e.yaml").empty());
}

TEST(ParameterFile, MalformedFilesNameFileLineAndKey)
{
  struct Case
  {
    const char * yaml;
    const char * message;
  };
  const std::vector<Case> cases = {
    {"executors: 2\n",
      "parameter file 'bad.yaml', line 1, key 'executors': expected a node name holding "
      "'ros__parameters', found a value outside any node"},
    {"ros__parameters:\n  a: 1\n",
      "parameter file 'bad.yaml', line 1, key 'ros__parameters': 'ros__parameters' needs a node "
      "name above it"},
    {"node:\n  ros__parameters:\n    a:\n      b:\n",
      "parameter file 'bad.yaml', line 4, key 'a.b': no value"},
    {"node:\n  ros__parameters:\n    list: [1, 2.5]\n",
      "parameter file 'bad.yaml', line 3, key 'list': list mixes element types: element 1 is "
      "double but the first is integer"},
    {"node:\n  ros__parameters:\n    list: []\n",
      "parameter file 'bad.yaml', line 3, key 'list': empty list: the element type cannot be "
      "inferred"},
    {"node:\n  ros__parameters:\n    list: [[1], [2]]\n",
      "parameter file 'bad.yaml', line 3, key 'list': list elements must be plain values (no "
      "nested lists or maps)"},
    {"node:\n  ros__parameters: 5\n",
      "parameter file 'bad.yaml', line 2, key '/node': 'ros__parameters' must hold a map of "
      "parameters"},
    {"no-de:\n  ros__parameters:\n    a: 1\n",
      "parameter file 'bad.yaml', line 2, key 'no-de': invalid node name token 'no-de'"},
    {"[1, 2]\n",
      "parameter file 'bad.yaml', line 1: the top level must map node names to their parameters"},
  };
  for (const auto & c : cases) {
    try {
      rclcdds::parse_parameter_yaml(c.yaml, "bad.yaml");
      ADD_FAILURE() << "accepted: " << c.yaml;
    } catch (const rclcdds::exceptions::ParameterFileError & e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.yaml;
    }
  }
}

TEST(ParameterFile, SyntaxErrorAndMissingFile)
{
  try {
    rclcdds::parse_parameter_yaml("node:\n  ros__parameters:\n    a: [1, 2\n", "broken.yaml");
    FAIL() << "accepted";
  } catch (const rclcdds::exceptions::ParameterFileError & e) {
    EXPECT_EQ(e.file, "broken.yaml");
    EXPECT_GT(e.line, 0);
    EXPECT_NE(std::string(e.what()).find("invalid YAML"), std::string::npos);
  }
  try {
    rclcdds::parse_parameter_file("/nonexistent/params.yaml");
    FAIL() << "accepted";
  } catch (const rclcdds::exceptions::ParameterFileError & e) {
    EXPECT_STREQ(e.what(), "parameter file '/nonexistent/params.yaml': cannot open the file");
  }
}

}  // namespace
