// PCL clouds <-> PointCloud2: layout, round trips, validation.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <string>

#include <pcl/point_types.h>

#include "rclcdds/conversions/pcl_conversions.hpp"

namespace
{

namespace pc = rclcdds::pcl_conversions;
using sensor_msgs::msg::PointCloud2;
using sensor_msgs::msg::PointField;

template<typename PointT>
pcl::PointCloud<PointT> random_cloud(size_t n)
{
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-5.0f, 5.0f);
  pcl::PointCloud<PointT> cloud;
  for (size_t i = 0; i < n; ++i) {
    PointT p;
    p.x = u(rng);
    p.y = u(rng);
    p.z = u(rng);
    cloud.push_back(p);
  }
  cloud.header.frame_id = "base_footprint";
  cloud.header.stamp = 1700000000123456ull;  // microseconds
  return cloud;
}

TEST(PclConversions, XyzLayoutAndRoundTrip)
{
  const auto cloud = random_cloud<pcl::PointXYZ>(100);
  PointCloud2 msg;
  pc::toROSMsg(cloud, msg);
  EXPECT_EQ(msg.width, 100u);
  EXPECT_EQ(msg.height, 1u);
  EXPECT_EQ(msg.point_step, sizeof(pcl::PointXYZ));
  EXPECT_EQ(msg.row_step, msg.point_step * 100);
  EXPECT_TRUE(msg.is_dense);
  ASSERT_EQ(msg.fields.size(), 3u);
  EXPECT_EQ(msg.fields[2].name, "z");
  EXPECT_EQ(msg.fields[2].offset, 8u);
  EXPECT_EQ(msg.fields[2].datatype, PointField::FLOAT32);
  EXPECT_EQ(msg.header.frame_id, "base_footprint");
  EXPECT_EQ(msg.header.stamp.sec, 1700000000);
  EXPECT_EQ(msg.header.stamp.nanosec, 123456000u);
  EXPECT_TRUE(pc::validatePointCloud2(msg, nullptr));

  pcl::PointCloud<pcl::PointXYZ> back;
  pc::fromROSMsg(msg, back);
  ASSERT_EQ(back.size(), cloud.size());
  EXPECT_FLOAT_EQ(back[57].y, cloud[57].y);
  EXPECT_EQ(back.header.stamp, cloud.header.stamp);
  pc::moveFromROSMsg(msg, back);  // takes the data
  EXPECT_EQ(back.size(), 100u);
  EXPECT_TRUE(msg.data.empty());

  auto organised = random_cloud<pcl::PointXYZ>(12);
  organised.width = 4;
  organised.height = 3;
  organised[5].x = std::numeric_limits<float>::quiet_NaN();
  organised.is_dense = false;
  pc::toROSMsg(organised, msg);
  EXPECT_EQ(msg.height, 3u);
  EXPECT_EQ(msg.row_step, 4 * msg.point_step);
  EXPECT_FALSE(msg.is_dense);
}

TEST(PclConversions, RgbAndIntensityFields)
{
  auto rgb = random_cloud<pcl::PointXYZRGB>(10);
  rgb[3].r = 200;
  rgb[3].g = 10;
  rgb[3].b = 7;
  PointCloud2 msg;
  pc::toROSMsg(rgb, msg);
  ASSERT_NE(pc::findField(msg, "rgb"), nullptr);
  pcl::PointCloud<pcl::PointXYZRGB> back;
  pc::fromROSMsg(msg, back);
  EXPECT_EQ(back[3].r, 200);
  EXPECT_EQ(back[3].b, 7);

  auto intensity = random_cloud<pcl::PointXYZI>(5);
  intensity[4].intensity = 0.75f;
  pc::toROSMsg(intensity, msg);
  ASSERT_NE(pc::findField(msg, "intensity"), nullptr);
  pcl::PointCloud<pcl::PointXYZI> back_i;
  pc::fromROSMsg(msg, back_i);
  EXPECT_FLOAT_EQ(back_i[4].intensity, 0.75f);

  // Extra fields are ignored when reading a narrower point type.
  pcl::PointCloud<pcl::PointXYZ> xyz;
  pc::fromROSMsg(msg, xyz);
  EXPECT_FLOAT_EQ(xyz[4].x, intensity[4].x);
}

TEST(PclConversions, RejectsInconsistentMessages)
{
  struct Case
  {
    const char * what;
    std::function<void(PointCloud2 &)> damage;
    const char * message;
  };
  const std::vector<Case> cases = {
    {"truncated data", [](PointCloud2 & m) {m.data.resize(m.data.size() - 1);},
      "invalid point cloud (4x1, point_step 16): data holds 63 bytes, height x row_step = 64"},
    {"short row_step", [](PointCloud2 & m) {m.row_step = 8;},
      "invalid point cloud (4x1, point_step 16): row_step 8 is smaller than width x point_step = 64"},
    {"field past point", [](PointCloud2 & m) {m.fields[2].offset = 14;},
      "invalid point cloud (4x1, point_step 16): field 'z' ends at byte 18, beyond point_step"},
    {"bad datatype", [](PointCloud2 & m) {m.fields[0].datatype = 42;},
      "invalid point cloud (4x1, point_step 16): field 'x' has unknown datatype 42"},
    {"big endian", [](PointCloud2 & m) {m.is_bigendian = true;},
      "invalid point cloud (4x1, point_step 16): big-endian clouds are not supported"},
    {"claims more rows", [](PointCloud2 & m) {m.height = 1000;},
      "invalid point cloud (4x1000, point_step 16): data holds 64 bytes, height x row_step = 64000"},
  };
  for (const auto & c : cases) {
    PointCloud2 msg;
    pc::toROSMsg(random_cloud<pcl::PointXYZ>(4), msg);
    c.damage(msg);
    std::string error;
    EXPECT_FALSE(pc::validatePointCloud2(msg, &error)) << c.what;
    EXPECT_EQ(error, c.message) << c.what;
    pcl::PointCloud<pcl::PointXYZ> out;
    EXPECT_THROW(pc::fromROSMsg(msg, out), std::invalid_argument) << c.what;
  }
}

TEST(PclConversions, MissingOrMistypedFieldsAreErrors)
{
  PointCloud2 msg;
  pc::toROSMsg(random_cloud<pcl::PointXYZ>(3), msg);
  pcl::PointCloud<pcl::PointXYZI> with_intensity;
  try {
    pc::fromROSMsg(msg, with_intensity);
    FAIL() << "accepted";
  } catch (const std::invalid_argument & e) {
    EXPECT_STREQ(e.what(), "point cloud has no field 'intensity'");
  }
  msg.fields[0].datatype = PointField::FLOAT64;
  msg.fields[0].offset = 0;
  pcl::PointCloud<pcl::PointXYZ> xyz;
  EXPECT_THROW(pc::fromROSMsg(msg, xyz), std::invalid_argument);
}

}  // namespace
