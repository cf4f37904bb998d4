// Interoperability with an independent ROS 2 implementation: @foxglove/ros2 (over
// @foxglove/rtps, on Node.js) subscribes to an Image, a PointCloud2 and a SemanticPointCloud
// published by rclcdds and prints every decoded field; each must equal what was sent.
// @foxglove/rtps discovers by multicast only, so both sides opt in to multicast on lo; the test
// therefore runs only inside the private network namespace of scripts/netns.sh.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "../transport/child_process.hpp"
#include "flatten_message.hpp"
#include "interop_messages.hpp"
#include "rclcdds/serialization.hpp"

using namespace std::chrono_literals;

namespace
{

using interop::expected_lines;
using interop::received_lines;

template<class T>
size_t wire_size(const T & msg)
{
  return rclcdds::serialized_size(rclcdds::get_message_members<T>(), &msg);
}

bool exists(const std::string & path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

TEST(Interop, FoxgloveRos2DecodesOurMessagesFieldByField)
{
  const char * in_netns = std::getenv("NIMBRA_IN_NETNS");
  if (in_netns == nullptr || std::string(in_netns) != "1") {
    GTEST_SKIP() << "multicast on lo is only enabled inside scripts/netns.sh";
  }
  const std::string dir = INTEROP_DIR;
  ASSERT_TRUE(exists(dir + "/node_modules/@foxglove/ros2"))
    << "npm packages missing: run scripts/setup.sh (npm install in " << dir << ")";

  setenv("RCLCDDS_NETWORK", "localhost-multicast", 1);
  rclcdds_test::ChildProcess publisher({INTEROP_PUBLISHER});
  ASSERT_TRUE(publisher.wait_for_line("publishing", 10s)) << publisher.output();
  rclcdds_test::ChildProcess subscriber(
    {"/usr/bin/env", "node", dir + "/subscriber.js", dir + "/../../../interfaces", "30000"});
  const int code = subscriber.wait(60s);
  publisher.signal(SIGINT);
  EXPECT_EQ(publisher.wait(10s), 0) << publisher.output();
  unsetenv("RCLCDDS_NETWORK");
  const std::string output = subscriber.output();
  ASSERT_EQ(code, 0) << output;

  const auto image = interop::make_image();
  const auto cloud = interop::make_cloud(4, "lidar", 0.0f);
  const auto semantic = interop::make_semantic();
  EXPECT_EQ(received_lines(output, "/interop/image"), expected_lines(image));
  EXPECT_EQ(received_lines(output, "/interop/cloud"), expected_lines(cloud));
  EXPECT_EQ(received_lines(output, "/interop/semantic"), expected_lines(semantic));
  // The byte counts it saw match our serialised sizes (padding included).
  EXPECT_NE(output.find("/interop/image bytes=" + std::to_string(wire_size(image))), std::string::npos)
    << output;
  EXPECT_NE(
    output.find("/interop/semantic bytes=" + std::to_string(wire_size(semantic))), std::string::npos)
    << output;
}
