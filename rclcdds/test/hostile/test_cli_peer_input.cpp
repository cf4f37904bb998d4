// rclcdds_cli against what hostile peers announce and send: the topic type choice, type names,
// the rate of good samples, escaping of string fields, and bounds on announced node names.
#include <gtest/gtest.h>

#include <yaml-cpp/yaml.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "dynamic_message.hpp"
#include "message_text.hpp"
#include "peer_input.hpp"

namespace
{

using rclcdds_cli::TopicEndpoint;

TopicEndpoint writer(const std::string & topic, const std::string & type, bool reliable = true)
{
  return TopicEndpoint{topic, type, true, reliable};
}

TEST(CliTopicType, AmbiguousMissingOrInvalidTypesAreOneClearError)
{
  const std::vector<TopicEndpoint> two_types = {
    writer("/t", "std_msgs/msg/String"), writer("/t", "evil/msg/String", false),
    writer("/other", "geometry_msgs/msg/Twist")};
  const char * invalid = "which is not a valid message type name (pkg/msg/Type)";
  const std::vector<std::tuple<std::vector<TopicEndpoint>, std::string, std::string>> cases = {
    {two_types, "", "'/t' is published with 2 types (evil/msg/String, std_msgs/msg/String): give "
      "the one to use"},
    {{}, "", "no publisher of '/t' found: give the message type (pkg/msg/Type)"},
    {{writer("/t", "")}, "", std::string("'/t' has type '', ") + invalid},
    {{writer("/t", "a/../b/X")}, "", std::string("'/t' has type 'a/../b/X', ") + invalid},
    {{writer("/t", "pkg/msg/T\x1b[2J")}, "", std::string("'/t' has type 'pkg/msg/T\\x1b[2J', ") +
      invalid},
    {{}, "std_msgs/msg/", std::string("'/t' has type 'std_msgs/msg/', ") + invalid},
  };
  for (const auto & [endpoints, given, message] : cases) {
    try {
      rclcdds_cli::choose_topic_type(endpoints, "/t", given);
      ADD_FAILURE() << "a type was picked: " << message;
    } catch (const std::runtime_error & error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  // With the user's choice: that type, QoS from its own publishers, the others named.
  const auto choice = rclcdds_cli::choose_topic_type(two_types, "/t", "std_msgs/msg/String");
  EXPECT_EQ(choice.type, "std_msgs/msg/String");
  EXPECT_TRUE(choice.all_reliable);
  EXPECT_EQ(choice.note,
    "'/t' also has publishers of evil/msg/String: only std_msgs/msg/String is read");
  EXPECT_EQ(rclcdds_cli::choose_topic_type(two_types, "/other", "").type,
    "geometry_msgs/msg/Twist");
}

TEST(CliTopicType, OnlyPlainIdentifiersAreTypeNames)
{
  const std::vector<std::pair<std::string, bool>> cases = {
    {"std_msgs/msg/String", true}, {"std_msgs/String", true}, {"nimbra_protocol/msg/Trashes", true},
    {"String", false}, {"/std_msgs/msg/String", false}, {"std_msgs/srv/String", false},
    {"std_msgs/msg/String/", false}, {"../lib/msg/X", false}, {"a b/msg/X", false},
    {"pkg/msg/1X", false}, {"pkg/msg/X.so", false}, {"", false}};
  for (const auto & [name, valid] : cases) {
    EXPECT_EQ(rclcdds_cli::valid_message_type_name(name), valid) << name;
  }
  // A type library is never looked up under a name from the wire that is not a type name.
  EXPECT_THROW(rclcdds_cli::load_message_members("../../tmp/msg/X"), std::runtime_error);
}

TEST(CliTopicHz, OnlyGoodSamplesCountAndSilenceSaysNoNewMessages)
{
  using std::chrono::milliseconds;
  rclcdds_cli::RateMonitor rate(100);
  const auto t0 = rclcdds_cli::RateMonitor::Clock::now();
  for (int i = 0; i < 10; ++i) {
    rate.add_sample(t0 + milliseconds(100 * i));
    for (int k = 0; k < 300; ++k) {
      rate.add_malformed();
    }
  }
  const std::string first = rate.report();
  EXPECT_EQ(first.rfind("average rate: 10.000\n", 0), 0u) << first;
  EXPECT_NE(first.find("malformed samples ignored: 3000"), std::string::npos) << first;
  EXPECT_TRUE(rate.reported_rate());
  // The publisher is gone: the next reports say so instead of repeating the last rate.
  EXPECT_EQ(rate.report(), "no new messages");
  rate.add_malformed();
  EXPECT_EQ(rate.report(), "no new messages\n\tmalformed samples ignored: 1");
  rate.add_sample(t0 + milliseconds(5000));
  EXPECT_EQ(rate.report().rfind("average rate: ", 0), 0u);

  rclcdds_cli::RateMonitor fresh(10);
  fresh.add_sample(t0);
  EXPECT_EQ(fresh.report(), "no new messages");
  EXPECT_FALSE(fresh.reported_rate());
}

std::string echo_text(const std::string & data)
{
  std_msgs::msg::String message;
  message.data = data;
  return rclcdds_cli::message_to_yaml(
    rclcdds::get_message_members<std_msgs::msg::String>(), &message, {});
}

TEST(CliStrings, PeerTextIsEscapedInEchoAndParameterOutputAndReadsBackAsYaml)
{
  const std::vector<std::pair<std::string, std::string>> cases = {
    {"plain text", "data: plain text\n"},
    {"line\nkey: value\n---", "data: \"line\\nkey: value\\n---\"\n"},
    {"\x1b[31mred\x07", "data: \"\\e[31mred\\a\"\n"},
    {std::string("nul\0x", 5), "data: \"nul\\0x\"\n"},
    {"tab\there \"q\" \\", "data: \"tab\\there \\\"q\\\" \\\\\"\n"},
    {"\r\x7f\x01", "data: \"\\r\\x7f\\x01\"\n"},
    {"caf\xc3\xa9", "data: caf\xc3\xa9\n"},                 // UTF-8 text stays as it is
    {"c1 \xc2\x9b", "data: \"c1 \\x9b\"\n"},                 // C1 control (CSI)
    {"sep \xe2\x80\xa8", "data: \"sep \\L\"\n"},
    {"bad \xff\xc3", "data: \"bad \\xff\\xc3\"\n"},          // bytes that are not UTF-8
  };
  for (const auto & [data, expected] : cases) {
    const std::string text = echo_text(data);
    EXPECT_EQ(text, expected);
    // One line only, whatever the peer sent; valid UTF-8 reads back unchanged.
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    if (data.find('\xff') == std::string::npos && data.find("\xc2\x9b") == std::string::npos) {
      EXPECT_EQ(YAML::Load(text)["data"].as<std::string>(), data) << text;
    }
  }
  // Parameter strings of a node, as param get and list print them (param dump quotes every
  // string: read back below).
  const std::vector<std::pair<std::string, std::string>> parameters = {
    {"auto", "auto"}, {"it's", "it's"}, {"a\nb: c", "\"a\\nb: c\""},
    {"\x1b]0;x\x07", "\"\\e]0;x\\a\""}};
  for (const auto & [text, escaped] : parameters) {
    EXPECT_EQ(rclcdds_cli::escaped_text(text), escaped);
    const std::string quoted = rclcdds_cli::quoted_text(text);
    EXPECT_EQ(YAML::Load("v: " + quoted)["v"].as<std::string>(), text) << quoted;
  }
  EXPECT_EQ(rclcdds_cli::quoted_text("it's"), "'it''s'");
}

rmw_dds_common::msg::NodeEntitiesInfo node(const std::string & ns, const std::string & name)
{
  rmw_dds_common::msg::NodeEntitiesInfo info;
  info.node_namespace = ns;
  info.node_name = name;
  return info;
}

TEST(CliNodeList, OneParticipantsAnnouncementIsBoundedAndFilteredWithWarnings)
{
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid.data[0] = 0xab;
  info.node_entities_info_seq = {
    node("/", "talker"), node("/robot", "object_detect"), node("/", "_hidden"),
    node("/", std::string(300, 'n')), node("/", "fake\n/injected"), node("no_slash", "x"),
    node("/a//b", "x")};
  std::vector<std::string> warnings;
  auto names = rclcdds_cli::announced_node_names(info, false, warnings);
  EXPECT_EQ(names, (std::vector<std::string>{"/talker", "/robot/object_detect"}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("announces 4 invalid or over-long node names"), std::string::npos)
    << warnings[0];
  EXPECT_EQ(warnings[0].find('\n'), std::string::npos) << warnings[0];

  for (size_t i = 0; i < 3000; ++i) {
    info.node_entities_info_seq.push_back(node("/", "n" + std::to_string(i)));
  }
  warnings.clear();
  names = rclcdds_cli::announced_node_names(info, true, warnings);
  EXPECT_EQ(names.size(), rclcdds_cli::kMaxAnnouncedNodes);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[1].find("announces 3003 nodes: only the first 1024 are listed"),
    std::string::npos) << warnings[1];
}

}  // namespace
