// Parameter files and command-line values: typing as rcl does, node matching, malformed files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "rclcdds/exceptions.hpp"
#include "rclcdds/parameter_map.hpp"

namespace
{

using rclcdds::ParameterType;
using rclcdds::ParameterValue;

struct ScalarCase
{
  const char * text;
  bool quoted;
  ParameterValue expected;
};

TEST(ScalarTyping, AsRclTypesYamlScalars)
{
  const std::vector<ScalarCase> cases = {
    {"true", false, ParameterValue(true)},
    {"True", false, ParameterValue(true)},
    {"TRUE", false, ParameterValue(true)},
    {"yes", false, ParameterValue(true)},
    {"Y", false, ParameterValue(true)},
    {"on", false, ParameterValue(true)},
    {"ON", false, ParameterValue(true)},
    {"false", false, ParameterValue(false)},
    {"No", false, ParameterValue(false)},
    {"n", false, ParameterValue(false)},
    {"off", false, ParameterValue(false)},
    {"tRUE", false, ParameterValue("tRUE")},
    {"1", false, ParameterValue(1)},
    {"-42", false, ParameterValue(-42)},
    {"+7", false, ParameterValue(7)},
    {"0x1F", false, ParameterValue(31)},
    {"010", false, ParameterValue(8)},
    {"9223372036854775807", false, ParameterValue(std::numeric_limits<int64_t>::max())},
    {"9223372036854775808", false, ParameterValue(9223372036854775808.0)},
    {"1.0", false, ParameterValue(1.0)},
    {"1e3", false, ParameterValue(1000.0)},
    {".5", false, ParameterValue(0.5)},
    {"-2.", false, ParameterValue(-2.0)},
    {".inf", false, ParameterValue(std::numeric_limits<double>::infinity())},
    {"-.Inf", false, ParameterValue(-std::numeric_limits<double>::infinity())},
    {"1_000", false, ParameterValue("1_000")},
    {"1.0.0", false, ParameterValue("1.0.0")},
    {"ESCALATOR_ENTRANCE", false, ParameterValue("ESCALATOR_ENTRANCE")},
    {"true", true, ParameterValue("true")},
    {"5", true, ParameterValue("5")},
    {"", true, ParameterValue("")},
  };
  for (const auto & c : cases) {
    EXPECT_EQ(rclcdds::parameter_value_from_yaml_scalar(c.text, c.quoted), c.expected)
      << "'" << c.text << "' quoted=" << c.quoted;
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

TEST(ParameterFile, ReadsRealFileAndMapsByNodeEmptyFilesHoldNothing)
{
  const std::string path = ::testing::TempDir() + "/rclcdds_params.yaml";
  {
    std::ofstream out(path);
    out << "/ns/cam:\n  ros__parameters:\n    rate: 15\n    rate: 30\n";
  }
  const auto map = rclcdds::parameter_map_from_yaml_file(path);
  ASSERT_EQ(map.count("/ns/cam"), 1u);
  ASSERT_EQ(map.at("/ns/cam").size(), 1u);
  EXPECT_EQ(map.at("/ns/cam")[0].as_int(), 30);
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
