// The transport's API without DDS: topic and node names follow rcl's rules, QoS profiles match
// rclcpp's, the participant stays on loopback unless the environment opts in explicitly, and
// every callback signature rclcpp accepts receives the message without a copy. (The "rt/" prefix
// of DDS topic names is pinned end to end in test_pubsub_local.cpp: a raw "rt/guarded" writer
// reaches a "guarded" subscription.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/any_subscription_callback.hpp"
#include "rclcdds/names.hpp"
#include "rclcdds/network_config.hpp"
#include "rclcdds/qos.hpp"

using rclcdds::DurabilityPolicy;
using rclcdds::HistoryPolicy;
using rclcdds::ReliabilityPolicy;
using std_msgs::msg::String;

namespace
{

/// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv
{
public:
  ScopedEnv(const char * name, const char * value) : name_(name)
  {
    if (const char * old = std::getenv(name)) {
      old_ = old;
    }
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() {old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);}

private:
  const char * name_;
  std::optional<std::string> old_;
};

/// Receiver with the member-function shape used with std::bind in node code.
struct Receiver
{
  void on_shared(const String::SharedPtr msg) {*seen = msg.get();}
  const String ** seen;
};

}  // namespace

TEST(Names, TopicExpansionTable)
{
  struct Case
  {
    const char * topic;
    const char * node;
    const char * ns;
    const char * expected;
  };
  const Case cases[] = {
    {"/abs", "node", "/ns", "/abs"},
    {"image", "node", "", "/image"},
    {"image", "node", "/", "/image"},
    {"image", "node", "/robot", "/robot/image"},
    {"cam1_base_cloud", "object_detect", "/perception", "/perception/cam1_base_cloud"},
    {"camera/depth", "node", "robot", "/robot/camera/depth"},
    {"~", "node", "/ns", "/ns/node"},
    {"~/change_state", "object_detect", "/", "/object_detect/change_state"},
    {"~/get_state", "node", "/a/b", "/a/b/node/get_state"},
    {"{node}/status", "node", "/ns", "/ns/node/status"},
    {"/{ns}/x", "node", "/robot", "/robot/x"},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(rclcdds::expand_topic_name(c.topic, c.node, c.ns), c.expected) << c.topic;
  }
}

TEST(Names, InvalidTopicNamesThrow)
{
  const char * invalid[] = {"", "a//b", "trailing/", "1starts_with_digit", "a/2b", "sp ace", "~x",
    "bad-dash", "/"};
  for (const char * name : invalid) {
    EXPECT_THROW(
      rclcdds::expand_topic_name(name, "node", "/"), rclcdds::exceptions::InvalidTopicNameError)
      << name;
  }
}

TEST(Names, NodeNamesAndNamespaces)
{
  EXPECT_NO_THROW(rclcdds::validate_node_name("object_detect"));
  EXPECT_THROW(rclcdds::validate_node_name(""), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcdds::validate_node_name("2d"), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcdds::validate_node_name("a/b"), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_EQ(rclcdds::normalize_namespace(""), "/");
  EXPECT_EQ(rclcdds::normalize_namespace("robot"), "/robot");
  EXPECT_THROW(rclcdds::normalize_namespace("/robot/"), rclcdds::exceptions::InvalidNamespaceError);
  EXPECT_EQ(rclcdds::fully_qualified_node_name("n", "/"), "/n");
  EXPECT_EQ(rclcdds::fully_qualified_node_name("n", "/a/b"), "/a/b/n");
}

TEST(QoS, ProfilesTable)
{
  using H = HistoryPolicy;
  using R = ReliabilityPolicy;
  using D = DurabilityPolicy;
  using Policies = std::tuple<H, size_t, R, D>;
  const std::tuple<const char *, rclcdds::QoS, Policies> cases[] = {
    {"QoS(10)", rclcdds::QoS(10), {H::KeepLast, 10, R::Reliable, D::Volatile}},
    {"SensorDataQoS", rclcdds::SensorDataQoS(), {H::KeepLast, 5, R::BestEffort, D::Volatile}},
    {"ParametersQoS", rclcdds::ParametersQoS(), {H::KeepLast, 1000, R::Reliable, D::Volatile}},
    {"ServicesQoS", rclcdds::ServicesQoS(), {H::KeepLast, 10, R::Reliable, D::Volatile}},
    {"ParameterEventsQoS", rclcdds::ParameterEventsQoS(),
      {H::KeepLast, 1000, R::Reliable, D::Volatile}},
    {"ClockQoS", rclcdds::ClockQoS(), {H::KeepLast, 1, R::BestEffort, D::Volatile}},
    {"SystemDefaultsQoS", rclcdds::SystemDefaultsQoS(),
      {H::SystemDefault, 1, R::SystemDefault, D::SystemDefault}},
    {"tf_static listener", rclcdds::QoS(100).transient_local(),
      {H::KeepLast, 100, R::Reliable, D::TransientLocal}},
    {"KeepAll", rclcdds::QoS(rclcdds::KeepAll()).best_effort(),
      {H::KeepAll, 0, R::BestEffort, D::Volatile}},
  };
  for (const auto & [name, qos, expected] : cases) {
    EXPECT_EQ(Policies(qos.history(), qos.depth(), qos.reliability(), qos.durability()), expected)
      << name;
  }
}

TEST(QoS, SettersChainAndCompare)
{
  rclcdds::QoS qos(1);
  qos.keep_last(7).best_effort().transient_local();
  EXPECT_EQ(qos, rclcdds::QoS(rclcdds::KeepLast(7)).best_effort().transient_local());
  EXPECT_NE(qos, rclcdds::QoS(7));
  EXPECT_THROW(rclcdds::QoS(0), std::invalid_argument);
}

TEST(NetworkConfig, DefaultIsLoopbackUnicastOnly)
{
  ScopedEnv mode("RCLCDDS_NETWORK", nullptr);
  ScopedEnv domain("ROS_DOMAIN_ID", nullptr);
  ScopedEnv uri("CYCLONEDDS_URI", "<CycloneDDS><Domain><General><Interfaces>"
    "<NetworkInterface name=\"eth0\"/></Interfaces></General></Domain></CycloneDDS>");
  const auto config = rclcdds::NetworkConfig::from_environment();
  EXPECT_EQ(config.mode, rclcdds::NetworkMode::Localhost);
  EXPECT_EQ(config.domain_id, 0u);
  const std::string & xml = config.cyclone_xml;
  EXPECT_NE(xml.find("<NetworkInterface address=\"127.0.0.1\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<AllowMulticast>false</AllowMulticast>"), std::string::npos);
  EXPECT_NE(xml.find("<ParticipantIndex>auto</ParticipantIndex>"), std::string::npos);
  EXPECT_NE(xml.find("<MaxAutoParticipantIndex>60</MaxAutoParticipantIndex>"), std::string::npos);
  EXPECT_NE(xml.find("<Peer Address=\"127.0.0.1\"/>"), std::string::npos);
  EXPECT_EQ(xml.find("eth0"), std::string::npos);
}

TEST(NetworkConfig, ModesAndDomainFromEnvironment)
{
  {
    ScopedEnv mode("RCLCDDS_NETWORK", "localhost-multicast");
    ScopedEnv domain("ROS_DOMAIN_ID", "42");
    const auto config = rclcdds::NetworkConfig::from_environment();
    EXPECT_EQ(config.mode, rclcdds::NetworkMode::LocalhostMulticast);
    EXPECT_EQ(config.domain_id, 42u);
    EXPECT_NE(
      config.cyclone_xml.find("<NetworkInterface address=\"127.0.0.1\" multicast=\"true\"/>"),
      std::string::npos);
    EXPECT_NE(config.cyclone_xml.find("<AllowMulticast>true</AllowMulticast>"), std::string::npos);
  }
  {
    ScopedEnv mode("RCLCDDS_NETWORK", "cyclonedds-uri");
    ScopedEnv uri("CYCLONEDDS_URI", "file:///etc/robot/cyclonedds.xml");
    const auto config = rclcdds::NetworkConfig::from_environment();
    EXPECT_EQ(config.mode, rclcdds::NetworkMode::CycloneUri);
    EXPECT_TRUE(config.cyclone_xml.empty());
  }
}

TEST(NetworkConfig, BadValuesNameTheVariable)
{
  struct Case
  {
    const char * variable;
    const char * value;
  };
  const Case cases[] = {
    {"ROS_DOMAIN_ID", "abc"}, {"ROS_DOMAIN_ID", "-1"}, {"ROS_DOMAIN_ID", "233"},
    {"ROS_DOMAIN_ID", "7x"}, {"RCLCDDS_NETWORK", "everywhere"},
  };
  for (const Case & c : cases) {
    ScopedEnv mode("RCLCDDS_NETWORK", nullptr);
    ScopedEnv domain("ROS_DOMAIN_ID", nullptr);
    ScopedEnv bad(c.variable, c.value);
    try {
      rclcdds::NetworkConfig::from_environment();
      ADD_FAILURE() << c.variable << "=" << c.value << " accepted";
    } catch (const std::invalid_argument & e) {
      EXPECT_NE(std::string(e.what()).find(c.variable), std::string::npos) << e.what();
    }
  }
  ScopedEnv mode("RCLCDDS_NETWORK", "cyclonedds-uri");
  ScopedEnv uri("CYCLONEDDS_URI", nullptr);
  EXPECT_THROW(rclcdds::NetworkConfig::from_environment(), std::invalid_argument);
}

TEST(AnySubscriptionCallback, EverySignatureGetsTheSameObject)
{
  const String * sent = nullptr;
  const String * seen = nullptr;
  rclcdds::MessageInfo info;
  info.source_timestamp_ns = 77;
  const auto expect_same_object = [&](auto callback) {
      auto msg = std::make_unique<String>();
      sent = msg.get();
      seen = nullptr;
      rclcdds::AnySubscriptionCallback<String>(std::move(callback)).dispatch(std::move(msg), info);
      EXPECT_EQ(seen, sent);
    };
  expect_same_object([&](const String & m) {seen = &m;});
  expect_same_object([&](String::ConstSharedPtr m) {seen = m.get();});
  expect_same_object([&](String::SharedPtr m) {seen = m.get();});
  expect_same_object([&](String::UniquePtr m) {seen = m.get();});
  int64_t stamp = 0;
  expect_same_object(
    [&](const String & m, const rclcdds::MessageInfo & i) {seen = &m; stamp = i.source_timestamp_ns;});
  EXPECT_EQ(stamp, 77);
  // A member function bound with std::bind, as node code does.
  Receiver receiver{&seen};
  expect_same_object(std::bind(&Receiver::on_shared, &receiver, std::placeholders::_1));
}
