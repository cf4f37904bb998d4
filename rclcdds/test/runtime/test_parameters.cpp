// Parameters end to end: command-line ROS arguments and name remapping, parameter files (typing
// as rcl does, node matching, malformed rules and files), parameter values (typing, exact
// exception texts, message round trips) and the parameter store (declaring, typed reads, set
// callbacks, events, overrides).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "rclcdds/arguments.hpp"
#include "rclcdds/exceptions.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "rclcdds/parameter.hpp"
#include "rclcdds/parameter_map.hpp"
#include "thrown_message.hpp"

namespace
{

using rclcdds::Arguments;
using rclcdds::NodeOptions;
using rclcdds::Parameter;
using rclcdds::ParameterValue;
using rclcdds::node_interfaces::NodeParameters;
using rcl_interfaces::msg::SetParametersResult;

using rclcdds_test::message_of;

// -p values are typed as in ScalarTyping and read back in NodeParameters.TypedReadsOfOverrides.
TEST(Arguments, SeparatesRosAndNonRosArgumentsAndReadsParameterRulesAndLogSwitches)
{
  const auto args = Arguments::parse(
    {"object_detect", "--verbose", "--ros-args", "-p", "executors:=4", "--param", "name:='7'", "-p",
      "object_detect:debug:=true", "--", "file.txt", "--ros-args", "--log-level", "debug"});
  EXPECT_EQ(args.non_ros_args(), (std::vector<std::string>{"object_detect", "--verbose", "file.txt"}));
  const auto & p = args.parameter_overrides();
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(p[0].node_pattern, "/**");
  EXPECT_EQ(p[0].parameter, Parameter("executors", 4));
  EXPECT_EQ(p[1].parameter, Parameter("name", "7"));  // quoted: a string
  EXPECT_EQ(p[2].node_pattern, "/object_detect");
  EXPECT_EQ(p[2].parameter, Parameter("debug", true));
  EXPECT_EQ(args.log_level(), std::optional<std::string>("debug"));

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

TEST(Arguments, MalformedRulesAndUnknownRosArgumentsThrowClearErrors)
{
  const std::vector<std::string> cmd = {"x", "--ros-args", "--foo", "-p", "a:=1", "--bar"};
  EXPECT_EQ(Arguments::parse(cmd).unknown_ros_args(), (std::vector<std::string>{"--foo", "--bar"}));
  EXPECT_EQ(
    message_of<rclcdds::exceptions::UnknownROSArgsError>([&] {Arguments::parse_strict(cmd);}),
    "found unknown ROS arguments: '--foo', '--bar'");
  EXPECT_NO_THROW(Arguments::parse_strict({"x", "--foo"}));  // not inside --ros-args

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {  // {args, error}
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
  for (const auto & [args, message] : cases) {
    EXPECT_EQ(
      message_of<rclcdds::exceptions::InvalidROSArgsError>([&a = args] {Arguments::parse(a);}),
      message);
  }
  EXPECT_THROW(
    Arguments::parse({"x", "--ros-args", "--params-file", "/nonexistent.yaml"}),
    rclcdds::exceptions::ParameterFileError);
}

TEST(Remap, NodeNameAndNamespaceLocalRulesFirstTopicRulesMatchExpandedNames)
{
  const auto global = Arguments::parse(
    {"x", "--ros-args", "-r", "__node:=global_name", "-r", "__ns:=/global"});
  const auto local = Arguments::parse({"--ros-args", "-r", "object_detect:__node:=local_name"});
  EXPECT_EQ(rclcdds::remap_node_name("object_detect", &local, &global), "local_name");
  EXPECT_EQ(rclcdds::remap_node_name("other", &local, &global), "global_name");
  EXPECT_EQ(rclcdds::remap_node_name("other", nullptr, nullptr), "other");
  EXPECT_EQ(rclcdds::remap_node_namespace("local_name", "", &local, &global), "/global");
  EXPECT_EQ(rclcdds::remap_node_namespace("n", "ns", nullptr, nullptr), "/ns");

  // Every topic rule form: plain, topics or services only, for another node, the long --remap.
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-r", "rostopic://image:=/camera_01/color/image_raw", "--remap",
      "~/state:=status", "-r", "other_node:cmd_vel:=/nav/cmd_vel", "-r",
      "rosservice://cmd_vel:=/srv/cmd_vel"});
  const auto remap = [&](const std::string & name, bool service = false) {
      const std::string expanded = rclcdds::expand_topic_name(name, "object_detect", "/robot");
      return rclcdds::remap_topic_name(expanded, service, "object_detect", "/robot", &args, nullptr);
    };
  EXPECT_EQ(remap("image"), "/camera_01/color/image_raw");
  EXPECT_EQ(remap("/robot/image"), "/camera_01/color/image_raw");
  EXPECT_EQ(remap("image", true), "/robot/image");
  EXPECT_EQ(remap("~/state"), "/robot/status");
  EXPECT_EQ(remap("~/state", true), "/robot/status");
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
  // A command-line value refuses what a file would refuse (accepted ones are read back typed in
  // NodeParameters.TypedReadsOfOverrides).
  for (const char * text : {"", "[1, 2.5]", "{a: 1}", "[]"}) {
    EXPECT_THROW(rclcdds::parameter_value_from_text(text), std::invalid_argument) << text;
  }
}

TEST(NodePattern, Matching)
{
  const std::vector<std::tuple<const char *, const char *, bool>> cases = {  // pattern, node, match
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
  for (const auto & [pattern, node, matches] : cases) {
    EXPECT_EQ(rclcdds::node_pattern_matches(pattern, node), matches) << pattern << " vs " << node;
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
  EXPECT_EQ(
    rclcdds::parameter_map_from_yaml_file(path),
    (rclcdds::ParameterMap{{"/**", {Parameter("executors", 2), Parameter("cameras", 1)}},
      {"/ns/cam", {Parameter("rate", 30)}}}));  // the later of two keys wins
  const auto args = Arguments::parse(
    {"x", "--ros-args", "-p", "executors:=8", "--params-file", path, "-p", "cameras:=3"});
  const auto resolved =
    rclcdds::resolve_parameter_overrides("/object_detect", args.parameter_overrides());
  EXPECT_EQ(resolved.at("executors"), ParameterValue(2));  // the file came after -p
  EXPECT_EQ(resolved.at("cameras"), ParameterValue(3));
  EXPECT_EQ(args.parameter_files(), std::vector<std::string>{path});
  std::remove(path.c_str());
  EXPECT_TRUE(rclcdds::parse_parameter_yaml("", "empty.yaml").empty());
  EXPECT_TRUE(rclcdds::parse_parameter_yaml("node:\n  ros__parameters:\n", "e.yaml").empty());
}

TEST(ParameterFile, MalformedMissingOrBrokenFilesNameFileLineAndKey)
{
  const std::vector<std::pair<const char *, std::string>> cases = {  // {file text, error}
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
  for (const auto & [yaml, message] : cases) {
    EXPECT_EQ(
      message_of<rclcdds::exceptions::ParameterFileError>(
        [&, yaml = yaml] {rclcdds::parse_parameter_yaml(yaml, "bad.yaml");}),
      message);
  }
  try {
    rclcdds::parse_parameter_yaml("node:\n  ros__parameters:\n    a: [1, 2\n", "broken.yaml");
    FAIL() << "accepted";
  } catch (const rclcdds::exceptions::ParameterFileError & e) {
    EXPECT_EQ(e.file, "broken.yaml");
    EXPECT_GT(e.line, 0);
    EXPECT_NE(std::string(e.what()).find("invalid YAML"), std::string::npos);
  }
  EXPECT_EQ(
    message_of<rclcdds::exceptions::ParameterFileError>(
      [] {rclcdds::parse_parameter_file("/nonexistent/params.yaml");}),
    "parameter file '/nonexistent/params.yaml': cannot open the file");
}

NodeOptions auto_declare(const std::vector<std::string> & args)
{
  NodeOptions options;
  options.automatically_declare_parameters_from_overrides(true).arguments(args);
  return options;
}

/// The typed read of `name` into a T; a failed read is a test failure.
template<typename T>
T read(const NodeParameters & params, const std::string & name)
{
  T value{};
  EXPECT_TRUE(params.get_parameter(name, value)) << name;
  return value;
}

TEST(NodeParameters, TypedReadsOfOverrides)
{
  NodeParameters params("/object_detect", auto_declare(
      {"--ros-args", "-p", "executors:=4", "-p", "debug:=false", "-p", "depth_rgb_time_diff:=0.08",
        "-p", "camera_1_camera_rgb:=/cam/rgb", "-p", "dangerous_class_type:=[person, chair]",
        "-p", "ids:=[1, 2]", "-p", "weights:=[0.5, 1.5]", "-p", "flags:=[true, false]"}),
    nullptr);
  EXPECT_EQ(read<int>(params, "executors"), 4);
  EXPECT_EQ(read<int64_t>(params, "executors"), 4);
  EXPECT_FALSE(read<bool>(params, "debug"));
  EXPECT_DOUBLE_EQ(read<double>(params, "depth_rgb_time_diff"), 0.08);
  EXPECT_FLOAT_EQ(read<float>(params, "depth_rgb_time_diff"), 0.08f);
  EXPECT_EQ(read<std::string>(params, "camera_1_camera_rgb"), "/cam/rgb");
  EXPECT_EQ(
    read<std::vector<std::string>>(params, "dangerous_class_type"),
    (std::vector<std::string>{"person", "chair"}));
  EXPECT_EQ(read<std::vector<int64_t>>(params, "ids"), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(read<std::vector<int>>(params, "ids"), (std::vector<int>{1, 2}));
  EXPECT_EQ(read<std::vector<double>>(params, "weights"), (std::vector<double>{0.5, 1.5}));
  EXPECT_EQ(read<std::vector<float>>(params, "weights"), (std::vector<float>{0.5f, 1.5f}));
  EXPECT_EQ(read<std::vector<bool>>(params, "flags"), (std::vector<bool>{true, false}));

  // An absent parameter leaves the value alone.
  int cameras = 2;
  EXPECT_FALSE(params.get_parameter("cameras", cameras));
  EXPECT_EQ(cameras, 2);
  int value = 0;
  EXPECT_FALSE(params.get_parameter_or("cameras", value, 7));
  EXPECT_EQ(value, 7);
  EXPECT_EQ(params.get_parameter_or<std::string>("name", "fallback"), "fallback");
}

// The constructors no other test compares against a typed value (the bool, integer, double,
// string and array ones are compared with parsed and read values throughout this file).
TEST(ParameterValue, TypeOfEachConstructor)
{
  EXPECT_EQ(ParameterValue().get_type(), rclcdds::PARAMETER_NOT_SET);
  EXPECT_EQ(ParameterValue(int64_t{1} << 40).get_type(), rclcdds::PARAMETER_INTEGER);
  EXPECT_EQ(ParameterValue(1.5f).get_type(), rclcdds::PARAMETER_DOUBLE);
  EXPECT_EQ(ParameterValue("text").get_type(), rclcdds::PARAMETER_STRING);  // not a bool
  EXPECT_EQ(ParameterValue(std::vector<uint8_t>{1, 2}).get_type(), rclcdds::PARAMETER_BYTE_ARRAY);
  EXPECT_EQ(ParameterValue(std::vector<int>{1, 2}).get_type(), rclcdds::PARAMETER_INTEGER_ARRAY);
  EXPECT_EQ(ParameterValue(std::vector<float>{1.f}).get_type(), rclcdds::PARAMETER_DOUBLE_ARRAY);
}

TEST(ParameterTyping, MismatchedReadsThrowTheRclcppTextsWithoutConverting)
{
  NodeParameters params("/n", auto_declare(
      {"--ros-args", "-p", "executors:=four", "-p", "rate:=4.0", "-p", "debug:=true", "-p",
        "cloud_x_leafSize:=1", "-p", "a:=[1, 2]"}), nullptr);
  int executors = 1;
  double leaf = 0.0;
  std::vector<double> as_doubles;
  using E = rclcdds::exceptions::InvalidParameterTypeException;
  const std::vector<std::pair<std::string, std::string>> cases = {  // {thrown text, expected}
    {message_of<E>([&] {params.get_parameter("executors", executors);}),
      "parameter 'executors' has invalid type: expected [integer] got [string]"},
    {message_of<E>([&] {params.get_parameter("rate", executors);}),
      "parameter 'rate' has invalid type: expected [integer] got [double]"},
    {message_of<E>([&] {params.get_parameter("debug", executors);}),
      "parameter 'debug' has invalid type: expected [integer] got [bool]"},
    {message_of<E>([&] {params.get_parameter("cloud_x_leafSize", leaf);}),
      "parameter 'cloud_x_leafSize' has invalid type: expected [double] got [integer]"},
    {message_of<E>([&] {params.get_parameter("a", as_doubles);}),
      "parameter 'a' has invalid type: expected [double_array] got [integer_array]"},
    {message_of<E>(
        [] {Parameter("ids", std::vector<int64_t>{1}).get_value<std::vector<std::string>>();}),
      "parameter 'ids' has invalid type: expected [string_array] got [integer_array]"},
    // A bare value's read names no parameter.
    {message_of<rclcdds::ParameterTypeException>([] {ParameterValue(2.0).get<int64_t>();}),
      "expected [integer] got [double]"},
  };
  for (const auto & c : cases) {
    EXPECT_EQ(c.first, c.second);
  }
  EXPECT_EQ(executors, 1);
  EXPECT_THROW(ParameterValue(2.0).get<bool>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(ParameterValue(2.0).get<std::string>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(ParameterValue(2).get<float>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(
    ParameterValue(std::vector<double>{0.5}).get<std::vector<int>>(), rclcdds::ParameterTypeException);
  EXPECT_THROW(Parameter("a", 5).as_double(), rclcdds::ParameterTypeException);
}

TEST(ParameterValue, MessageRoundTripsAndText)
{
  rcl_interfaces::msg::ParameterValue msg;
  msg.type = rclcdds::PARAMETER_DOUBLE;
  msg.double_value = 4.25;
  msg.integer_value = 99;  // ignored: not the selected member
  const ParameterValue v(msg);
  EXPECT_EQ(v, ParameterValue(4.25));
  EXPECT_EQ(v.to_value_msg().integer_value, 0);
  msg.type = 200;
  EXPECT_THROW(ParameterValue{msg}, std::runtime_error);

  const Parameter p("trash_detection.trash_class_type", std::vector<std::string>{"PAPER", "CUP"});
  EXPECT_EQ(Parameter::from_parameter_msg(p.to_parameter_msg()), p);
  const Parameter nan("x", std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(Parameter::from_parameter_msg(nan.to_parameter_msg()).as_double()));

  EXPECT_EQ(rclcdds::to_string(ParameterValue(true)), "true");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(-7)), "-7");
  EXPECT_EQ(rclcdds::to_string(ParameterValue("x y")), "x y");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<int64_t>{1, 2, 3})), "[1, 2, 3]");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<bool>{true, false})), "[true, false]");
  EXPECT_EQ(rclcdds::to_string(ParameterValue(std::vector<uint8_t>{255, 0})), "[255, 0]");
  EXPECT_EQ(
    rclcdds::to_string(Parameter("n", 3)), "{\"n\": {\"type\": \"integer\", \"value\": \"3\"}}");
}

TEST(NodeParameters, OverridePrecedence)
{
  const auto global = rclcdds::Arguments::parse(
    {"prog", "--ros-args", "-p", "a:=1", "-p", "b:=1", "-p", "c:=1", "-p", "other:x:=1"});
  NodeOptions options = auto_declare({"--ros-args", "-p", "b:=2", "-p", "c:=2"});
  options.append_parameter_override("c", 3);
  NodeParameters params("/n", options, &global);
  EXPECT_EQ(
    params.get_parameters({"a", "b", "c"}),
    (std::vector<Parameter>{Parameter("a", 1), Parameter("b", 2), Parameter("c", 3)}));
  EXPECT_FALSE(params.has_parameter("x"));
  // Auto-declared overrides are dynamically typed.
  EXPECT_TRUE(params.describe_parameter("a").dynamic_typing);
  EXPECT_TRUE(params.set_parameter(Parameter("a", 0.3)).successful);
  EXPECT_EQ(params.describe_parameter("a").type, rclcdds::PARAMETER_DOUBLE);

  options.use_global_arguments(false);
  NodeParameters local_only("/n", options, &global);
  EXPECT_FALSE(local_only.has_parameter("a"));
  EXPECT_THROW(
    NodeParameters("/n", auto_declare({"--ros-args", "--bogus"}), nullptr),
    rclcdds::exceptions::UnknownROSArgsError);
}

TEST(NodeParameters, DeclareUsesOverrideAndKeepsStaticType)
{
  NodeOptions options;
  options.arguments({"--ros-args", "-p", "rate:=30", "-p", "wrong:=text"});
  NodeParameters params("/n", options, nullptr);
  EXPECT_FALSE(params.has_parameter("rate"));  // not auto-declared
  EXPECT_EQ(params.declare_parameter<int>("rate", 10), 30);
  EXPECT_EQ(params.declare_parameter<double>("gain", 0.5), 0.5);
  EXPECT_THROW(
    params.declare_parameter<int>("rate", 1), rclcdds::exceptions::ParameterAlreadyDeclaredException);
  EXPECT_THROW(
    params.declare_parameter("", ParameterValue(1)), rclcdds::exceptions::InvalidParametersException);
  EXPECT_EQ(
    message_of<rclcdds::exceptions::InvalidParameterTypeException>(
      [&] {params.declare_parameter<int>("wrong", 1);}),
    "parameter 'wrong' has invalid type: Wrong parameter type, parameter {wrong} is of type "
    "{integer}, setting it to {string} is not allowed.");
  const auto r = params.set_parameter(Parameter("rate", 2.5));
  EXPECT_FALSE(r.successful);
  EXPECT_EQ(
    r.reason,
    "Wrong parameter type, parameter {rate} is of type {integer}, setting it to {double} is not allowed.");
  EXPECT_EQ(params.get_parameter("rate").as_int(), 30);
  EXPECT_THROW(
    params.declare_parameter<int>("no_default"),
    rclcdds::exceptions::UninitializedStaticallyTypedParameterException);

  // Declared by type only: unreadable until set, then typed like the others.
  params.declare_parameter("count", rclcdds::PARAMETER_INTEGER);
  EXPECT_THROW(params.get_parameter("count"), rclcdds::exceptions::ParameterUninitializedException);
  int count = 0;
  EXPECT_FALSE(params.get_parameter("count", count));
  EXPECT_TRUE(params.set_parameter(Parameter("count", 5)).successful);
  EXPECT_EQ(params.get_parameter("count").as_int(), 5);
  EXPECT_FALSE(params.set_parameter(Parameter("count", "five")).successful);
}

TEST(NodeParameters, CallbackRefusalLeavesEveryValueUnchanged)
{
  NodeParameters params("/n", auto_declare(
      {"--ros-args", "-p", "cam1_params.max_slope:=0.2", "-p", "cam1_params.min_slope:=0.0"}), nullptr);
  std::vector<std::string> seen;
  auto accept = params.add_on_set_parameters_callback(
    [&](const std::vector<Parameter> & ps) {
      for (const auto & p : ps) {seen.push_back(p.get_name());}
      return SetParametersResult().set__successful(true);
    });
  auto reject_negative = params.add_on_set_parameters_callback(
    [](const std::vector<Parameter> & ps) {
      for (const auto & p : ps) {
        if (p.get_type() == rclcdds::PARAMETER_DOUBLE && p.as_double() < 0.0) {
          return SetParametersResult().set__reason(p.get_name() + " must not be negative");
        }
      }
      return SetParametersResult().set__successful(true);
    });

  const auto refused = params.set_parameters_atomically(
    {Parameter("cam1_params.max_slope", 0.3), Parameter("cam1_params.min_slope", -1.0)});
  EXPECT_FALSE(refused.successful);
  EXPECT_EQ(refused.reason, "cam1_params.min_slope must not be negative");
  EXPECT_DOUBLE_EQ(params.get_parameter("cam1_params.max_slope").as_double(), 0.2);
  EXPECT_TRUE(seen.empty());  // the newest callback runs first and stopped the request

  const auto results = params.set_parameters(
    {Parameter("cam1_params.max_slope", 0.3), Parameter("cam1_params.min_slope", -1.0)});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].successful);
  EXPECT_FALSE(results[1].successful);
  EXPECT_DOUBLE_EQ(params.get_parameter("cam1_params.max_slope").as_double(), 0.3);
  EXPECT_DOUBLE_EQ(params.get_parameter("cam1_params.min_slope").as_double(), 0.0);

  reject_negative.reset();  // dropping the handle unregisters the callback
  EXPECT_TRUE(params.set_parameter(Parameter("cam1_params.min_slope", -1.0)).successful);
  EXPECT_EQ(seen.back(), "cam1_params.min_slope");
  EXPECT_THROW(params.remove_on_set_parameters_callback(nullptr), std::runtime_error);
  params.remove_on_set_parameters_callback(accept.get());
  seen.clear();
  params.set_parameter(Parameter("cam1_params.min_slope", 0.1));
  EXPECT_TRUE(seen.empty());

  // A callback may not set parameters itself.
  auto nested = params.add_on_set_parameters_callback(
    [&params](const std::vector<Parameter> &) {
      params.set_parameter(Parameter("cam1_params.max_slope", 2.0));
      return SetParametersResult().set__successful(true);
    });
  EXPECT_THROW(
    params.set_parameter(Parameter("cam1_params.min_slope", 0.2)),
    rclcdds::exceptions::ParameterModifiedInCallbackException);
  EXPECT_DOUBLE_EQ(params.get_parameter("cam1_params.min_slope").as_double(), 0.1);
}

TEST(NodeParameters, EventsReportNewChangedAndDeleted)
{
  std::vector<rcl_interfaces::msg::ParameterEvent> events;
  auto clock = std::make_shared<rclcdds::Clock>(rclcdds::RCL_STEADY_TIME);
  NodeParameters params(
    "/robot/object_detect", auto_declare({"--ros-args", "-p", "a:=1"}), nullptr,
    [&](const rcl_interfaces::msg::ParameterEvent & e) {events.push_back(e);}, clock);
  using Msgs = std::vector<rcl_interfaces::msg::Parameter>;
  ASSERT_EQ(events.size(), 1u);  // the auto-declared override
  EXPECT_EQ(events[0].node, "/robot/object_detect");
  EXPECT_EQ(events[0].new_parameters, Msgs{Parameter("a", 1).to_parameter_msg()});
  EXPECT_GT(events[0].stamp.sec + events[0].stamp.nanosec, 0u);

  params.set_parameter(Parameter("a", 5));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].changed_parameters, Msgs{Parameter("a", 5).to_parameter_msg()});

  params.set_parameter(Parameter("a"));  // not set: undeclares a dynamically typed parameter
  ASSERT_EQ(events.size(), 3u);
  ASSERT_EQ(events[2].deleted_parameters.size(), 1u);
  EXPECT_FALSE(params.has_parameter("a"));

  params.set_parameter_event_callback(nullptr);
  params.declare_parameter("b", ParameterValue(1));
  EXPECT_EQ(events.size(), 3u);
}

TEST(NodeParameters, UndeclaredOutOfRangeAndReadOnlyAreRefusedUnlessUndeclaredAreAllowed)
{
  NodeParameters params("/n", NodeOptions(), nullptr);
  EXPECT_THROW(params.get_parameter("missing"), rclcdds::exceptions::ParameterNotDeclaredException);
  EXPECT_EQ(
    message_of<rclcdds::exceptions::ParameterNotDeclaredException>(
      [&] {params.set_parameters({Parameter("missing", 1)});}),
    "parameter 'missing' cannot be set because it was not declared");
  rcl_interfaces::msg::ParameterDescriptor descriptor;
  descriptor.integer_range.push_back(
    rcl_interfaces::msg::IntegerRange().set__from_value(1).set__to_value(16).set__step(1));
  params.declare_parameter("executors", ParameterValue(1), descriptor);
  EXPECT_TRUE(params.set_parameter(Parameter("executors", 16)).successful);
  const auto out_of_range = params.set_parameter(Parameter("executors", 17));
  EXPECT_FALSE(out_of_range.successful);
  EXPECT_EQ(out_of_range.reason, "Parameter {executors} doesn't comply with integer range.");

  rcl_interfaces::msg::ParameterDescriptor fixed;
  fixed.read_only = true;
  params.declare_parameter("frame", ParameterValue("base_footprint"), fixed);
  const auto read_only = params.set_parameter(Parameter("frame", "map"));
  EXPECT_FALSE(read_only.successful);
  EXPECT_EQ(read_only.reason, "parameter 'frame' cannot be set because it is read-only");
  EXPECT_THROW(params.undeclare_parameter("frame"), rclcdds::exceptions::ParameterImmutableException);
  EXPECT_THROW(params.undeclare_parameter("executors"), rclcdds::exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
    params.declare_parameter("bad", ParameterValue(100), descriptor),
    rclcdds::exceptions::InvalidParameterValueException);

  NodeOptions lax_options;
  lax_options.allow_undeclared_parameters(true);
  NodeParameters lax("/n", lax_options, nullptr);
  EXPECT_EQ(lax.get_parameter("missing").get_type(), rclcdds::PARAMETER_NOT_SET);
  EXPECT_TRUE(lax.set_parameter(Parameter("missing", 1)).successful);
  EXPECT_EQ(lax.get_parameter("missing").as_int(), 1);
  EXPECT_TRUE(lax.set_parameter(Parameter("missing", "now text")).successful);
}

TEST(NodeParameters, ListDescribeTypesAndPrefix)
{
  NodeParameters params("/n", auto_declare(
      {"--ros-args", "-p", "debug:=true", "-p", "cam1.max_slope:=0.2", "-p", "cam1.min_slope:=0.0",
        "-p", "cam1.deep.x:=1"}), nullptr);
  EXPECT_EQ(params.list_parameters({}, 0).names.size(), 4u);
  EXPECT_EQ(params.list_parameters({}, 1).names, std::vector<std::string>{"debug"});
  const auto cam = params.list_parameters({"cam1"}, 1);
  EXPECT_EQ(cam.names, (std::vector<std::string>{"cam1.max_slope", "cam1.min_slope"}));
  EXPECT_EQ(cam.prefixes, std::vector<std::string>{"cam1"});

  std::map<std::string, double> slopes;
  NodeParameters only_doubles("/n", auto_declare(
      {"--ros-args", "-p", "cam1.max_slope:=0.2", "-p", "cam1.min_slope:=0.0"}), nullptr);
  EXPECT_TRUE(only_doubles.get_parameters("cam1", slopes));
  EXPECT_EQ(slopes.size(), 2u);
  EXPECT_DOUBLE_EQ(slopes.at("max_slope"), 0.2);

  const auto types = params.get_parameter_types({"debug", "cam1.deep.x"});
  EXPECT_EQ(types, (std::vector<uint8_t>{rclcdds::PARAMETER_BOOL, rclcdds::PARAMETER_INTEGER}));
  EXPECT_THROW(params.get_parameter_types({"nope"}), rclcdds::exceptions::ParameterNotDeclaredException);
  EXPECT_THROW(params.describe_parameters({"nope"}), rclcdds::exceptions::ParameterNotDeclaredException);
  EXPECT_EQ(params.get_parameters({"debug"}).at(0).as_bool(), true);
}

}  // namespace
