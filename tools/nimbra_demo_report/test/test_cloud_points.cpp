// Reading clouds from the network: well-formed clouds, and malformed ones that give nothing.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "cloud_points.hpp"

namespace nimbra_demo_report
{
namespace
{

sensor_msgs::msg::PointCloud2 Cloud(const std::vector<std::array<float, 3>> & points)
{
  sensor_msgs::msg::PointCloud2 c;
  const char * names[3] = {"x", "y", "z"};
  for (uint32_t i = 0; i < 3; ++i) {
    sensor_msgs::msg::PointField f;
    f.name = names[i];
    f.offset = 4 * i;
    f.datatype = sensor_msgs::msg::PointField::FLOAT32;
    f.count = 1;
    c.fields.push_back(f);
  }
  c.point_step = 16;
  c.width = static_cast<uint32_t>(points.size());
  c.height = 1;
  c.row_step = c.point_step * c.width;
  c.data.resize(c.row_step);
  for (size_t k = 0; k < points.size(); ++k) {
    std::memcpy(c.data.data() + 16 * k, points[k].data(), 12);
  }
  return c;
}

TEST(CloudPoints, ReadsFiniteXyz)
{
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const auto points = cloudPoints(Cloud({{1.f, 2.f, 3.f}, {nan, 0.f, 0.f}, {-1.f, 0.5f, 0.f}}));
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[0], Eigen::Vector3d(1, 2, 3));
  EXPECT_EQ(points[1], Eigen::Vector3d(-1, 0.5, 0));
}

TEST(CloudPoints, MalformedCloudsGiveNoPoints)
{
  struct Case {std::string name; void (*spoil)(sensor_msgs::msg::PointCloud2 &);};
  const std::vector<Case> cases{
    {"short data", [](sensor_msgs::msg::PointCloud2 & c) {c.data.resize(c.data.size() - 1);}},
    {"huge width", [](sensor_msgs::msg::PointCloud2 & c) {c.width = 0xFFFFFFFFu; c.height = 0xFFFFFFFFu;}},
    {"no z", [](sensor_msgs::msg::PointCloud2 & c) {c.fields.pop_back();}},
    {"float64 x", [](sensor_msgs::msg::PointCloud2 & c) {
        c.fields[0].datatype = sensor_msgs::msg::PointField::FLOAT64;}},
    {"offset past the point", [](sensor_msgs::msg::PointCloud2 & c) {c.fields[2].offset = 14;}},
    {"zero step", [](sensor_msgs::msg::PointCloud2 & c) {c.point_step = 0;}},
    {"big endian", [](sensor_msgs::msg::PointCloud2 & c) {c.is_bigendian = true;}},
  };
  for (const auto & c : cases) {
    auto cloud = Cloud({{1.f, 2.f, 3.f}, {4.f, 5.f, 6.f}});
    c.spoil(cloud);
    EXPECT_TRUE(cloudPoints(cloud).empty()) << c.name;
  }
}

}  // namespace
}  // namespace nimbra_demo_report
