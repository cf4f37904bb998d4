// Hostile peers against a node and rclcdds_cli: hostile_peer (raw bytes on Cyclone's C API)
// sends what no well-behaved ROS 2 peer would; each test then checks that the victim keeps
// working (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <lifecycle_msgs/srv/change_state.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>
#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <std_msgs/msg/string.hpp>

#include "../node/node_test_fixture.hpp"
#include "../transport/child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

namespace
{

class HostilePeersTest : public rclcdds_test::NodeTest
{
protected:
  void TearDown() override
  {
    for (const auto & path : files_) {
      std::remove(path.c_str());
    }
    NodeTest::TearDown();
  }

  /// A payload file for hostile_peer: `message` as CDR (with a service prefix for requests).
  template<class MessageT>
  std::string payload_file(const MessageT & message, bool request = false)
  {
    rclcdds::SerializedMessage payload;
    rclcdds::ServicePrefix prefix;
    prefix.guid = 0x1122334455667788ull;
    prefix.sequence = 1;
    rclcdds::serialize_message(
      rclcdds::get_message_members<MessageT>(), &message, payload, request ? &prefix : nullptr);
    return raw_file(std::string(reinterpret_cast<const char *>(payload.data()), payload.size()));
  }

  std::string raw_file(const std::string & bytes)
  {
    char path[] = "/tmp/hostile_payload_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    files_.push_back(path);
    return path;
  }

  static std::vector<std::string> hostile(
    const std::string & topic, const std::string & type, const std::string & payload,
    std::vector<std::string> more)
  {
    std::vector<std::string> argv{HOSTILE_PEER, "--topic", topic, "--type", type,
      "--payload-file", payload};
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
  }

  template<class ServiceT>
  std::shared_ptr<typename ServiceT::Response> call(
    const rclcdds::Node::SharedPtr & node, const std::string & service,
    std::shared_ptr<typename ServiceT::Request> request, std::chrono::seconds timeout = 10s)
  {
    auto client = node->create_client<ServiceT>(service);
    if (!client->wait_for_service(timeout)) {
      return nullptr;
    }
    auto future = client->async_send_request(request);
    if (rclcdds::spin_until_future_complete(node, future, timeout) !=
      rclcdds::FutureReturnCode::SUCCESS)
    {
      return nullptr;
    }
    return future.get();
  }

  /// rclcdds_cli run to completion: its exit code and output.
  static std::pair<int, std::string> cli(const std::vector<std::string> & words)
  {
    std::vector<std::string> argv{RCLCDDS_CLI};
    argv.insert(argv.end(), words.begin(), words.end());
    ChildProcess process(argv);
    const int code = process.wait(30s);
    return {code, process.output()};
  }

  static size_t count_lines(const std::string & text, const std::string & needle)
  {
    size_t n = 0;
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
      n += line.find(needle) != std::string::npos ? 1 : 0;
    }
    return n;
  }

  std::vector<std::string> files_;
};

rcl_interfaces::msg::Parameter parameter(const std::string & name, uint8_t type, double value)
{
  rcl_interfaces::msg::Parameter message;
  message.name = name;
  message.value.type = type;
  message.value.double_value = value;
  return message;
}

// Fault: one set_parameters request with ParameterValue.type 200 ended the serving process.
TEST_F(HostilePeersTest, OutOfRangeParameterTypeIsRefusedAndTheNodeServesOn)
{
  const std::string name = unique_name("param_victim");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();

  rcl_interfaces::srv::SetParameters::Request bad;
  bad.parameters = {parameter("gain", 200, 7.0)};
  ChildProcess attacker(hostile(
      "rq/" + name + "/set_parametersRequest", "rcl_interfaces::srv::dds_::SetParameters_Request_",
      payload_file(bad, true), {"--count", "5", "--rate", "50", "--match-timeout", "10"}));
  ASSERT_EQ(attacker.wait(20s), 0) << attacker.output();
  ASSERT_NE(attacker.output().find("matched"), std::string::npos) << attacker.output();

  // The same request from a real client is answered: refused where it names type 200, the
  // valid parameter beside it is set.
  auto node = std::make_shared<rclcdds::Node>("param_caller", node_options());
  auto mixed = std::make_shared<rcl_interfaces::srv::SetParameters::Request>();
  mixed->parameters = {parameter("gain", 200, 7.0),
    parameter("gain", rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE, 4.0)};
  auto results = call<rcl_interfaces::srv::SetParameters>(node, "/" + name + "/set_parameters", mixed);
  ASSERT_NE(results, nullptr) << peer.output();
  ASSERT_EQ(results->results.size(), 2u);
  EXPECT_FALSE(results->results[0].successful);
  EXPECT_EQ(results->results[0].reason, "unknown parameter type 200");
  EXPECT_TRUE(results->results[1].successful);
  auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  get->names = {"gain"};
  auto values = call<rcl_interfaces::srv::GetParameters>(node, "/" + name + "/get_parameters", get);
  ASSERT_NE(values, nullptr);
  ASSERT_EQ(values->values.size(), 1u);
  EXPECT_DOUBLE_EQ(values->values[0].double_value, 4.0);

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

// Lifecycle requests with an unknown id or a control-character label are refused, once logged.
TEST_F(HostilePeersTest, BadLifecycleRequestsAreRefusedAndTheNodeServesOn)
{
  const std::string name = unique_name("lifecycle_victim");
  ChildProcess peer({NODE_PEER, "lifecycle", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto node = std::make_shared<rclcdds::Node>("lifecycle_caller", node_options());
  using lifecycle_msgs::srv::ChangeState;
  for (int i = 0; i < 20; ++i) {
    auto request = std::make_shared<ChangeState::Request>();
    request->transition.id = 200;
    request->transition.label = i % 2 == 0 ? "" : "\x1b[2J\nfake line";
    auto response = call<ChangeState>(node, "/" + name + "/change_state", request);
    ASSERT_NE(response, nullptr) << i;
    EXPECT_FALSE(response->success);
  }
  auto configure = std::make_shared<ChangeState::Request>();
  configure->transition.label = "configure";
  auto response = call<ChangeState>(node, "/" + name + "/change_state", configure);
  ASSERT_NE(response, nullptr);
  EXPECT_TRUE(response->success);
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
  const std::string output = peer.output();
  EXPECT_EQ(output.find("\x1b[2J"), std::string::npos) << "raw control characters reached the log";
  // 20 refusals in well under the rate-limit period: one line for the ids, one for the label.
  EXPECT_LE(count_lines(output, "Unable to start transition"), 2u) << output;
  EXPECT_GE(count_lines(output, "Unable to start transition"), 1u) << output;
}

// Fault: requests from a writer announcing a client id but without a reply reader held the
// executor 100 ms each, so the node's timers and real requests starved.
TEST_F(HostilePeersTest, RequestsWithoutAReplyReaderDoNotHoldTheExecutor)
{
  const std::string name = unique_name("stall_victim");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto node = std::make_shared<rclcdds::Node>("stall_observer", node_options());
  std::atomic<int> received{0};
  auto subscription = node->create_subscription<std_msgs::msg::String>(
    "/chatter", rclcdds::QoS(10), [&received](const std_msgs::msg::String &) {++received;});

  rcl_interfaces::srv::GetParameters::Request request;
  request.names = {"gain"};
  ChildProcess attacker(hostile(
      "rq/" + name + "/get_parametersRequest", "rcl_interfaces::srv::dds_::GetParameters_Request_",
      payload_file(request, true),
      {"--user-data", "clientid=de.ad.be.ef.0.0.0.0.0.0.0.0.0.0.0.1;", "--count", "400", "--rate",
        "100", "--match-timeout", "10"}));
  ASSERT_TRUE(attacker.wait_for_line("matched", 15s)) << attacker.output();

  // While 100 requests a second arrive: the peer's 10 Hz topic keeps its rate and real
  // requests are answered.
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(node);
  const auto start = std::chrono::steady_clock::now();
  const int before = received.load();
  int answered = 0;
  auto caller = std::make_shared<rclcdds::Node>("stall_caller", node_options());
  for (int i = 0; i < 3; ++i) {
    auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
    get->names = {"gain"};
    auto reply = call<rcl_interfaces::srv::GetParameters>(
      caller, "/" + name + "/get_parameters", get, 2s);
    answered += reply != nullptr && reply->values.size() == 1 ? 1 : 0;
    executor.spin_some(std::chrono::milliseconds(100));
  }
  while (std::chrono::steady_clock::now() - start < 3s) {
    executor.spin_some(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(10ms);
  }
  const double seconds =
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int got = received.load() - before;
  EXPECT_EQ(answered, 3);
  EXPECT_GE(got, static_cast<int>(seconds * 10 / 2)) << "chatter messages in " << seconds << " s";
  EXPECT_EQ(attacker.wait(20s), 0) << attacker.output();
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

// Fault: every malformed sample printed one warning line.
TEST_F(HostilePeersTest, AFloodOfMalformedSamplesCostsAFewWarningLines)
{
  const std::string name = unique_name("flood_victim");
  const std::string topic = "/flood_" + std::to_string(::getpid());
  ChildProcess peer({NODE_PEER, "listen", name, topic});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  // A string whose length runs past the payload.
  const std::string garbage("\x00\x01\x00\x00\xff\xff\xff\x7f" "abc", 11);
  ChildProcess flood(hostile(
      "rt" + topic, "std_msgs::msg::dds_::String_", raw_file(garbage),
      {"--count", "3000", "--rate", "0", "--depth", "5000", "--match-timeout", "10"}));
  ASSERT_EQ(flood.wait(30s), 0) << flood.output();
  std_msgs::msg::String good;
  good.data = "still listening";
  ChildProcess sender(hostile(
      "rt" + topic, "std_msgs::msg::dds_::String_", payload_file(good),
      {"--count", "1", "--match-timeout", "10"}));
  EXPECT_EQ(sender.wait(20s), 0) << sender.output();
  EXPECT_TRUE(peer.wait_for_line("got still listening", 10s)) << peer.output();
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0);
  const size_t warnings = count_lines(peer.output(), "dropped a malformed");
  EXPECT_GE(warnings, 1u);
  EXPECT_LE(warnings, 3u) << peer.output();
}

// Faults: echo without a type trusted the first writer seen; an uninstalled type ended the
// tool on a missing library.
TEST_F(HostilePeersTest, EchoRefusesToGuessBetweenAnnouncedTypes)
{
  const std::string name = unique_name("echo_victim");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  std_msgs::msg::String fake;
  fake.data = "attacker";
  ChildProcess impostor(hostile(
      "rt/chatter", "evil::msg::dds_::String_", payload_file(fake),
      {"--count", "100", "--rate", "10", "--match-timeout", "0"}));
  const std::string ghost = "/ghost_" + std::to_string(::getpid());
  ChildProcess ghost_writer(hostile(
      "rt" + ghost, "ghost_pkg::msg::dds_::Thing_", payload_file(fake),
      {"--count", "100", "--rate", "10", "--match-timeout", "0"}));

  auto [code, output] = cli({"topic", "echo", "/chatter", "--once"});
  EXPECT_EQ(code, 1) << output;
  EXPECT_NE(
    output.find("'/chatter' is published with 2 types (evil/msg/String, std_msgs/msg/String): "
    "give the one to use"), std::string::npos) << output;
  EXPECT_EQ(output.find("attacker"), std::string::npos) << output;

  std::tie(code, output) = cli({"topic", "echo", "/chatter", "std_msgs/msg/String", "--once"});
  EXPECT_EQ(code, 0) << output;
  EXPECT_NE(output.find("data: hello"), std::string::npos) << output;
  EXPECT_NE(output.find("also has publishers of evil/msg/String"), std::string::npos) << output;

  std::tie(code, output) = cli({"topic", "echo", ghost, "--once"});
  EXPECT_EQ(code, 1) << output;
  EXPECT_NE(
    output.find("rclcdds_cli: cannot read '" + ghost + "' as ghost_pkg/msg/Thing: cannot load "
    "libghost_pkg__rosidl_typesupport_introspection_cpp.so"), std::string::npos) << output;
  EXPECT_EQ(count_lines(output, "rclcdds_cli:"), 1u) << output;
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0);
}

// Faults: hz counted samples that failed to decode and kept printing the last rate after its
// publisher was gone.
TEST_F(HostilePeersTest, HzCountsGoodSamplesOnlyAndNoticesSilence)
{
  const std::string topic = "/hz_" + std::to_string(::getpid());
  ChildProcess hz({RCLCDDS_CLI, "topic", "hz", topic, "std_msgs/msg/String", "--duration", "6"});
  std_msgs::msg::String good;
  good.data = "tick";
  ChildProcess publisher(hostile(
      "rt" + topic, "std_msgs::msg::dds_::String_", payload_file(good),
      {"--count", "25", "--rate", "10", "--match-timeout", "10"}));
  const std::string garbage("\x00\x01\x00\x00\xff\xff\xff\x7f", 8);
  ChildProcess flood(hostile(
      "rt" + topic, "std_msgs::msg::dds_::String_", raw_file(garbage),
      {"--count", "2000", "--rate", "1000", "--depth", "5000", "--match-timeout", "10"}));
  EXPECT_EQ(publisher.wait(20s), 0) << publisher.output();
  EXPECT_EQ(flood.wait(20s), 0) << flood.output();
  EXPECT_EQ(hz.wait(20s), 0) << hz.output();
  const std::string output = hz.output();
  std::vector<double> rates;
  std::vector<std::string> reports;
  std::stringstream stream(output);
  std::string line;
  while (std::getline(stream, line)) {
    if (line.rfind("average rate: ", 0) == 0) {
      rates.push_back(std::atof(line.c_str() + 14));
      reports.push_back("rate");
    } else if (line == "no new messages") {
      reports.push_back(line);
    }
  }
  ASSERT_FALSE(rates.empty()) << output;
  for (double rate : rates) {
    EXPECT_LT(rate, 30.0) << output;  // 10 Hz of good samples, 1000 Hz of garbage
  }
  EXPECT_NE(output.find("malformed samples ignored"), std::string::npos) << output;
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), "no new messages") << output;
}

// Fault: node list believed any ros_discovery_info sample.
TEST_F(HostilePeersTest, NodeListBoundsWhatOneParticipantAnnounces)
{
  const std::string name = unique_name("listed_peer");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid.data.fill(0);
  info.gid.data[0] = 0xee;
  info.gid.data[1] = 0x77;
  for (int i = 0; i < 3000; ++i) {
    rmw_dds_common::msg::NodeEntitiesInfo node;
    node.node_namespace = "/fake";
    node.node_name = "n" + std::to_string(i);
    info.node_entities_info_seq.push_back(node);
  }
  rmw_dds_common::msg::NodeEntitiesInfo injected;
  injected.node_namespace = "/";
  injected.node_name = "evil\n/injected";
  info.node_entities_info_seq.push_back(injected);
  ChildProcess announcer(hostile(
      "ros_discovery_info", "rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_",
      payload_file(info), {"--transient-local", "--depth", "1", "--match-timeout", "0",
        "--linger", "15"}));
  ASSERT_TRUE(announcer.wait_for_line("sent 1", 10s)) << announcer.output();
  auto [code, output] = cli({"node", "list", "--settle", "2"});
  EXPECT_EQ(code, 0) << output.substr(0, 2000);
  EXPECT_NE(output.find("/" + name + "\n"), std::string::npos) << output.substr(0, 2000);
  EXPECT_EQ(count_lines(output, "/fake/n"), 1024u);
  EXPECT_EQ(output.find("\n/injected"), std::string::npos) << output.substr(0, 2000);
  EXPECT_EQ(output.find("evil\n"), std::string::npos) << output.substr(0, 2000);
  EXPECT_NE(output.find("announces 3000 nodes: only the first 1024 are listed"), std::string::npos);
  EXPECT_NE(output.find("announces 1 invalid or over-long node name"), std::string::npos);
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0);
}

// Fault: a local process holding every participant index kept new processes from starting.
TEST_F(HostilePeersTest, ProcessesStartWhenEveryParticipantIndexIsTaken)
{
  // Take every unicast port pair of participant indices 0..60 (domain 0) that is still free.
  std::vector<int> sockets;
  for (int index = 0; index <= 60; ++index) {
    for (int port : {7410 + 2 * index, 7411 + 2 * index}) {
      const int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0) {
        sockets.push_back(fd);
      } else {
        close(fd);
      }
    }
  }
  ASSERT_GT(sockets.size(), 100u);
  const std::string name = unique_name("late_peer");
  ChildProcess peer({NODE_PEER, "param", name});
  const bool ready = peer.wait_for_line("ready", 15s);
  for (int fd : sockets) {
    close(fd);
  }
  ASSERT_TRUE(ready) << peer.output();
  EXPECT_NE(peer.output().find("every DDS participant index on 127.0.0.1 is taken"),
    std::string::npos) << peer.output();
  // It is still on the graph: this process (which holds an index) reaches its services.
  auto node = std::make_shared<rclcdds::Node>("late_caller", node_options());
  auto get = std::make_shared<rcl_interfaces::srv::GetParameters::Request>();
  get->names = {"limit"};
  auto values = call<rcl_interfaces::srv::GetParameters>(node, "/" + name + "/get_parameters", get);
  ASSERT_NE(values, nullptr) << peer.output();
  ASSERT_EQ(values->values.size(), 1u);
  EXPECT_EQ(values->values[0].integer_value, 10);
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

}  // namespace
