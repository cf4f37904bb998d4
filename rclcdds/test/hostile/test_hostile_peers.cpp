// Hostile peers against a node and rclcdds_cli: hostile_peer (raw bytes from a process of its
// own) sends what no well-behaved ROS 2 peer would; each test then checks that the victim keeps
// working (run inside scripts/netns.sh).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rcl_interfaces/srv/get_parameters.hpp>
#include <rcl_interfaces/srv/set_parameters.hpp>
#include <rmw_dds_common/msg/participant_entities_info.hpp>
#include <std_msgs/msg/string.hpp>

#include "../node/node_test_fixture.hpp"
#include "../transport/cdr_test_helpers.hpp"
#include "../transport/child_process.hpp"

using namespace std::chrono_literals;
using rclcdds_test::ChildProcess;

namespace
{

const char kStringType[] = "std_msgs::msg::dds_::String_";

using rclcdds_test::wire_of;
using std_msgs::msg::String;

const rclcdds::ServicePrefix kRequest{0x1122334455667788ull, 1};

/// rclcdds_cli run to completion: its exit code and output.
std::pair<int, std::string> cli(std::vector<std::string> words)
{
  words.insert(words.begin(), RCLCDDS_CLI);
  ChildProcess process(words);
  const int code = process.wait(30s);
  return {code, process.output()};
}

size_t count_lines(const std::string & text, const std::string & needle)
{
  size_t n = 0;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line); ) {
    n += line.find(needle) != std::string::npos ? 1 : 0;
  }
  return n;
}

class HostilePeersTest : public rclcdds_test::NodeTest
{
protected:
  /// The command line of hostile_peer writing `bytes` (options: see hostile_peer.cpp).
  std::vector<std::string> hostile(
    const std::string & topic, const std::string & type, const std::vector<uint8_t> & bytes,
    std::vector<std::string> options)
  {
    const std::string path = rclcdds_test::temp_dir() + "/payload";
    std::ofstream(path, std::ios::binary).write(
      reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    options.insert(options.begin(), {HOSTILE_PEER, "--topic", topic, "--type", type,
        "--payload-file", path});
    return options;
  }

  /// get_parameters of `name` on node `node_name`; null when unanswered.
  std::shared_ptr<rcl_interfaces::srv::GetParameters::Response> get(
    const rclcdds::Node::SharedPtr & caller, const std::string & node_name,
    const std::string & name, std::chrono::seconds timeout = 10s)
  {
    using rcl_interfaces::srv::GetParameters;
    auto client = caller->create_client<GetParameters>("/" + node_name + "/get_parameters");
    if (!client->wait_for_service(timeout)) {
      return nullptr;
    }
    auto request = std::make_shared<GetParameters::Request>();
    request->names = {name};
    auto future = client->async_send_request(request);
    const auto code = rclcdds::spin_until_future_complete(caller, future, timeout);
    return code == rclcdds::FutureReturnCode::SUCCESS ? future.get() : nullptr;
  }
};

// One parameter node under four attacks, each of which once broke the node or the CLI.
TEST_F(HostilePeersTest, AParameterNodeUnderAttackServesOnAndTheCliStaysSafe)
{
  const std::string name = unique_name("victim");
  ChildProcess peer({NODE_PEER, "param", name});
  ASSERT_TRUE(peer.wait_for_line("ready", 10s)) << peer.output();
  auto caller = std::make_shared<rclcdds::Node>("caller", node_options());

  // Fault: one set_parameters request with ParameterValue.type 200 ended the serving process.
  rcl_interfaces::srv::SetParameters::Request bad;
  bad.parameters.resize(1);
  bad.parameters[0].name = "gain";
  bad.parameters[0].value.type = 200;
  bad.parameters[0].value.double_value = 7.0;
  ChildProcess type_200(hostile(
      "rq/" + name + "/set_parametersRequest", "rcl_interfaces::srv::dds_::SetParameters_Request_",
      wire_of(bad, &kRequest), {"--count", "5", "--rate", "50", "--match-timeout", "10"}));
  ASSERT_EQ(type_200.wait(20s), 0) << type_200.output();
  ASSERT_NE(type_200.output().find("matched"), std::string::npos) << type_200.output();
  auto gain = get(caller, name, "gain");
  ASSERT_NE(gain, nullptr) << peer.output();
  ASSERT_EQ(gain->values.size(), 1u);
  EXPECT_DOUBLE_EQ(gain->values[0].double_value, 1.5) << "a type-200 value was applied";

  // Fault: requests from a writer announcing a client id but without a reply reader held the
  // executor 100 ms each, so the node's timers and real requests starved. While 100 requests a
  // second arrive, the peer's 10 Hz topic keeps its rate and real requests are answered.
  auto observer = std::make_shared<rclcdds::Node>("observer", node_options());
  std::atomic<int> received{0};
  auto subscription = observer->create_subscription<std_msgs::msg::String>(
    "/chatter", rclcdds::QoS(10), [&received](const std_msgs::msg::String &) {++received;});
  rcl_interfaces::srv::GetParameters::Request request;
  request.names = {"gain"};
  ChildProcess stall(hostile(
      "rq/" + name + "/get_parametersRequest", "rcl_interfaces::srv::dds_::GetParameters_Request_",
      wire_of(request, &kRequest), {"--user-data", "clientid=de.ad.be.ef.0.0.0.0.0.0.0.0.0.0.0.1;",
        "--count", "400", "--rate", "100", "--match-timeout", "10"}));
  ASSERT_TRUE(stall.wait_for_line("matched", 15s)) << stall.output();
  rclcdds::executors::SingleThreadedExecutor executor(executor_options());
  executor.add_node(observer);
  const auto start = std::chrono::steady_clock::now();
  const int before = received.load();
  int answered = 0;
  for (int i = 0; i < 3; ++i) {
    auto reply = get(caller, name, "gain", 2s);
    answered += reply != nullptr && reply->values.size() == 1 ? 1 : 0;
    executor.spin_some(std::chrono::milliseconds(100));
  }
  while (std::chrono::steady_clock::now() - start < 3s) {
    executor.spin_some(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(10ms);
  }
  const double seconds =
    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(answered, 3);
  EXPECT_GE(received.load() - before, static_cast<int>(seconds * 10 / 2))
    << "chatter messages in " << seconds << " s";
  EXPECT_EQ(stall.wait(20s), 0) << stall.output();

  // Faults: echo without a type trusted the first writer seen; an uninstalled type ended the
  // tool on a missing library.
  const auto attacker = wire_of(String().set__data("attacker"));
  ChildProcess impostor(hostile("rt/chatter", "evil::msg::dds_::String_", attacker,
      {"--count", "100", "--rate", "10", "--match-timeout", "0"}));
  const std::string ghost = "/ghost_" + std::to_string(::getpid());
  ChildProcess ghost_writer(hostile("rt" + ghost, "ghost_pkg::msg::dds_::Thing_", attacker,
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

  // Fault: node list believed any ros_discovery_info sample.
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid.data[0] = 0xee;
  info.gid.data[1] = 0x77;
  info.node_entities_info_seq.resize(3001);
  for (int i = 0; i < 3000; ++i) {
    info.node_entities_info_seq[i].node_namespace = "/fake";
    info.node_entities_info_seq[i].node_name = "n" + std::to_string(i);
  }
  info.node_entities_info_seq[3000].node_namespace = "/";
  info.node_entities_info_seq[3000].node_name = "evil\n/injected";
  ChildProcess announcer(hostile(
      "ros_discovery_info", "rmw_dds_common::msg::dds_::ParticipantEntitiesInfo_", wire_of(info),
      {"--transient-local", "--depth", "1", "--match-timeout", "0", "--linger", "15"}));
  ASSERT_TRUE(announcer.wait_for_line("sent 1", 10s)) << announcer.output();
  std::tie(code, output) = cli({"node", "list", "--settle", "2"});
  EXPECT_EQ(code, 0) << output.substr(0, 2000);
  EXPECT_NE(output.find("/" + name + "\n"), std::string::npos) << output.substr(0, 2000);
  EXPECT_EQ(count_lines(output, "/fake/n"), 1024u);
  EXPECT_EQ(output.find("\n/injected"), std::string::npos) << output.substr(0, 2000);
  EXPECT_EQ(output.find("evil\n"), std::string::npos) << output.substr(0, 2000);
  EXPECT_NE(output.find("announces 3000 nodes: only the first 1024 are listed"), std::string::npos);
  EXPECT_NE(output.find("announces 1 invalid or over-long node name"), std::string::npos);

  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

// Faults: every malformed sample printed one warning line; hz counted samples that failed to
// decode and kept printing the last rate after its publisher was gone.
TEST_F(HostilePeersTest, AGarbageFloodCostsAListenerAFewWarningsAndHzCountsGoodSamplesOnly)
{
  const std::string topic = "/flood_" + std::to_string(::getpid());
  ChildProcess listener({NODE_PEER, "listen", unique_name("flood_victim"), topic});
  ASSERT_TRUE(listener.wait_for_line("ready", 10s)) << listener.output();
  ChildProcess hz({RCLCDDS_CLI, "topic", "hz", topic, "std_msgs/msg/String", "--duration", "6"});
  ChildProcess publisher(hostile("rt" + topic, kStringType, wire_of(String().set__data("tick")),
      {"--count", "25", "--rate", "10", "--match-timeout", "10"}));
  // Strings whose length runs past the payload, 1000 a second.
  ChildProcess flood(hostile("rt" + topic, kStringType,
      {0x00, 0x01, 0x00, 0x00, 0xff, 0xff, 0xff, 0x7f, 'a', 'b', 'c'},
      {"--count", "2000", "--rate", "1000", "--depth", "5000", "--match-timeout", "10"}));
  EXPECT_EQ(publisher.wait(20s), 0) << publisher.output();
  EXPECT_EQ(flood.wait(20s), 0) << flood.output();
  ChildProcess sender(hostile("rt" + topic, kStringType,
      wire_of(String().set__data("still listening")), {"--count", "1", "--match-timeout", "10"}));
  EXPECT_EQ(sender.wait(20s), 0) << sender.output();
  EXPECT_TRUE(listener.wait_for_line("got still listening", 10s)) << listener.output();
  listener.signal(SIGINT);
  EXPECT_EQ(listener.wait(10s), 0);
  const size_t warnings = count_lines(listener.output(), "dropped a malformed");
  EXPECT_GE(warnings, 1u);
  EXPECT_LE(warnings, 3u) << listener.output();

  EXPECT_EQ(hz.wait(20s), 0) << hz.output();
  const std::string output = hz.output();
  const auto rates = hz.lines_starting_with("average rate: ");
  ASSERT_FALSE(rates.empty()) << output;
  for (const std::string & rate : rates) {
    EXPECT_LT(std::atof(rate.c_str() + 14), 30.0) << output;  // 10 Hz good, 1000 Hz garbage
  }
  EXPECT_NE(output.find("malformed samples ignored"), std::string::npos) << output;
  // The publishers are gone: the last report says so instead of repeating the last rate.
  ASSERT_NE(output.rfind("\nno new messages"), std::string::npos) << output;
  EXPECT_GT(output.rfind("\nno new messages"), output.rfind("average rate: ")) << output;
}

// Fault: a local process holding every participant index kept new processes from starting.
TEST_F(HostilePeersTest, ProcessesStartWhenEveryParticipantIndexIsTaken)
{
  // Take every unicast port pair of participant indices 0..60 (domain 0) that is still free.
  std::vector<int> sockets;
  for (int port = 7410; port <= 7411 + 2 * 60; ++port) {
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
  auto limit = get(std::make_shared<rclcdds::Node>("late_caller", node_options()), name, "limit");
  ASSERT_NE(limit, nullptr) << peer.output();
  ASSERT_EQ(limit->values.size(), 1u);
  EXPECT_EQ(limit->values[0].integer_value, 10);
  peer.signal(SIGINT);
  EXPECT_EQ(peer.wait(10s), 0) << peer.output();
}

}  // namespace
