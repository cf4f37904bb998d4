// The node's obstacle and people messages, built by the same code the cameras publish with,
// decoded by an independent ROS 2 implementation (@foxglove/ros2 on Node.js) and compared field
// by field: the only independent decoding of this package's own message types. @foxglove/rtps
// discovers by multicast only: runs inside scripts/netns.sh.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/obstacle_messages.hpp"
#include "child_process.hpp"
#include "flatten_message.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/node_topics.hpp"

namespace
{

using namespace std::chrono_literals;

nimbra::ClassCloudInfo Piece(semantic::SemanticType type, std::vector<pcl::PointXYZ> points)
{
  nimbra::ClassCloudInfo piece;
  piece.type = type;
  piece.has_detection = type == semantic::PERSON;
  for (const auto & p : points) {
    piece.cloud.push_back(p);
  }
  piece.detection = {{10, 20, 110, 220, cv::Mat()}, {}, 0.0F, 0, semantic::NO_TYPE};
  return piece;
}

TEST(MessagesInterop, FoxgloveDecodesTheSemanticCloudAndThePeopleList)
{
  const char * in_netns = std::getenv("NIMBRA_IN_NETNS");
  if (in_netns == nullptr || std::string(in_netns) != "1") {
    GTEST_SKIP() << "multicast on lo is only enabled inside scripts/netns.sh";
  }
  const std::string dir = INTEROP_DIR;
  struct stat info;
  ASSERT_EQ(stat((dir + "/node_modules/@foxglove/ros2").c_str(), &info), 0)
    << "npm packages missing: run scripts/setup.sh";

  // Camera 2's rules apply: the chair point at x < 0.6 is left out, the extent x is sent as 0.2.
  const std::vector<nimbra::ClassCloudInfo> pieces{
    Piece(semantic::PERSON, {{1.0F, 0.2F, 0.1F}, {1.2F, 0.3F, 1.7F}, {1.1F, -0.1F, 0.9F}}),
    Piece(semantic::CHAIR, {{0.5F, 0.0F, 0.3F}, {0.9F, 0.1F, 0.4F}}),
  };
  nimbra::CameraFrameState extent;
  extent.ready = true;
  extent.extremes = {{{1.0F, 2.0F, 0.0F}, {3.0F, -1.0F, 0.0F}, {0.7F, 0.0F, 0.0F},
    {4.0F, 0.5F, 0.25F}}};
  std::size_t points = 0;
  const auto semantic = nimbra::makeSemanticPointCloud(pieces, 2, &extent, 1234.5, points);
  const auto people = nimbra::makePeopleList(pieces, 2, 1234.5);
  ASSERT_EQ(semantic.clusters.size(), 2u);
  ASSERT_EQ(people.objects.size(), 1u);

  setenv("RCLCDDS_NETWORK", "localhost-multicast", 1);
  rclcdds::init(0, nullptr);
  auto node = std::make_shared<rclcdds::NodeTopics>("messages_interop", "/od_interop");
  // The independent subscriber asks for transient local durability, and it joins late: each
  // message is published once and the writers keep it for the subscriber.
  const auto qos = rclcdds::QoS(1).transient_local();
  auto semantic_pub =
    node->create_publisher<nimbra_protocol::msg::SemanticPointCloud>("semantic", qos);
  auto people_pub = node->create_publisher<nimbra_protocol::msg::ObjectList>("people", qos);
  semantic_pub->publish(semantic);
  people_pub->publish(people);
  rclcdds_test::ChildProcess subscriber({"/usr/bin/env", "node", dir + "/subscriber.js",
      dir + "/../../../interfaces", "30000",
      "/od_interop/semantic=nimbra_protocol/SemanticPointCloud",
      "/od_interop/people=nimbra_protocol/ObjectList"});
  const int code = subscriber.wait(60s);
  semantic_pub.reset();
  people_pub.reset();
  node.reset();
  rclcdds::shutdown();
  unsetenv("RCLCDDS_NETWORK");
  const std::string output = subscriber.output();
  ASSERT_EQ(code, 0) << output;
  EXPECT_EQ(interop::received_lines(output, "/od_interop/semantic"),
    interop::expected_lines(semantic));
  EXPECT_EQ(interop::received_lines(output, "/od_interop/people"), interop::expected_lines(people));
}

}  // namespace
