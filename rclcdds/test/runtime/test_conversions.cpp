// Image and point cloud conversions: validation before any pixel or point is read, sharing,
// copies, conversions and round trips.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <pcl/point_types.h>

#include "rclcdds/conversions/cv_bridge.hpp"
#include "rclcdds/conversions/pcl_conversions.hpp"
#include "thrown_message.hpp"

namespace
{

namespace cvb = rclcdds::cv_bridge;
namespace pc = rclcdds::pcl_conversions;
using sensor_msgs::msg::Image;
using sensor_msgs::msg::PointCloud2;
using sensor_msgs::msg::PointField;
using rclcdds_test::message_of;

Image make_image(uint32_t width, uint32_t height, const std::string & encoding, uint32_t pad = 0)
{
  Image msg;
  msg.header.frame_id = "camera";
  msg.header.stamp.sec = 12;
  msg.width = width;
  msg.height = height;
  msg.encoding = encoding;
  msg.step = width * static_cast<uint32_t>(CV_ELEM_SIZE(cvb::getCvType(encoding))) + pad;
  msg.data.resize(static_cast<size_t>(msg.step) * height);
  std::mt19937 rng(3);
  for (auto & b : msg.data) {
    b = static_cast<uint8_t>(rng());
  }
  return msg;
}

TEST(CvBridge, RejectsInconsistentMessagesBeforeReadingPixels)
{
  struct Case
  {
    const char * what;
    std::function<void(Image &)> damage;
    const char * message;
  };
  const std::vector<Case> cases = {
    {"short step", [](Image & m) {m.step = 6;},
      "invalid image (4x3, encoding [16UC1]): step 6 is smaller than width x 2 bytes = 8"},
    {"missing bytes", [](Image & m) {m.data.resize(m.data.size() - 1);},
      "invalid image (4x3, encoding [16UC1]): data holds 23 bytes, height x step = 24"},
    {"extra bytes", [](Image & m) {m.data.resize(m.data.size() + 8);},
      "invalid image (4x3, encoding [16UC1]): data holds 32 bytes, height x step = 24"},
    {"taller than data", [](Image & m) {m.height = 1000000;},
      "invalid image (4x1000000, encoding [16UC1]): data holds 24 bytes, height x step = 8000000"},
    {"unknown encoding", [](Image & m) {m.encoding = "depth_in_mm";},
      "invalid image (4x3, encoding [depth_in_mm]): Unrecognized image encoding [depth_in_mm]"},
    {"huge width", [](Image & m) {m.width = 0xFFFFFFFFu;},
      "invalid image (4294967295x3, encoding [16UC1]): step 8 is smaller than width x 2 bytes = "
      "8589934590"},
  };
  for (const auto & c : cases) {
    Image msg = make_image(4, 3, "16UC1");
    c.damage(msg);
    std::string error;
    EXPECT_FALSE(cvb::validateImage(msg, &error)) << c.what;
    EXPECT_EQ(error, c.message) << c.what;
    EXPECT_EQ(message_of<cvb::Exception>([&] {cvb::toCvCopy(msg);}), c.message) << c.what;
    auto shared = std::make_shared<const Image>(msg);
    EXPECT_THROW(cvb::toCvShare(shared), cvb::Exception) << c.what;
    EXPECT_THROW(cvb::toCvCopy(msg, "32FC1"), cvb::Exception) << c.what;
  }
}

TEST(CvBridge, CopyAndBackKeepPixelsAndHeaderWithoutThePadding)
{
  const Image msg = make_image(5, 4, "32FC1", 6);  // padded rows
  const auto copy = cvb::toCvCopy(msg);
  ASSERT_EQ(copy->image.type(), CV_32FC1);
  EXPECT_EQ(copy->header, msg.header);
  EXPECT_EQ(copy->encoding, "32FC1");
  EXPECT_NE(copy->image.data, msg.data.data());
  const auto back = copy->toImageMsg();
  EXPECT_EQ(back->step, 20u);  // 5 columns, no padding
  EXPECT_EQ(back->data.size(), 80u);
  EXPECT_EQ(back->header, msg.header);
  EXPECT_TRUE(cvb::validateImage(*back, nullptr));
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(0, std::memcmp(copy->image.ptr(r), msg.data.data() + r * msg.step, 20));
    EXPECT_EQ(0, std::memcmp(back->data.data() + r * back->step, msg.data.data() + r * msg.step, 20));
  }

  cvb::CvImage wrong(msg.header, "mono8", cv::Mat(2, 2, CV_16UC1));
  EXPECT_THROW(wrong.toImageMsg(), cvb::Exception);
  cvb::CvImage empty(msg.header, "mono8");
  EXPECT_EQ(empty.toImageMsg()->data.size(), 0u);
  Image empty_msg;  // an empty image is valid
  empty_msg.encoding = "mono8";
  EXPECT_TRUE(cvb::validateImage(empty_msg, nullptr));
  EXPECT_TRUE(cvb::toCvCopy(empty_msg)->image.empty());

  Image big_endian = make_image(2, 1, "16UC1");
  big_endian.is_bigendian = 1;
  big_endian.data = {0x12, 0x34, 0xAB, 0xCD};
  EXPECT_EQ(cvb::toCvCopy(big_endian)->image.at<uint16_t>(0, 1), 0xABCD);
  EXPECT_EQ(
    cvb::toCvShare(std::make_shared<const Image>(big_endian))->image.at<uint16_t>(0, 1), 0xABCD);
}

TEST(CvBridge, ShareUsesMessageMemoryAndKeepsItAliveColourConversions)
{
  auto message = std::make_shared<Image>(make_image(8, 2, "bgr8"));
  const uint8_t * bytes = message->data.data();
  cvb::CvImageConstPtr shared_image = cvb::toCvShare(message);
  EXPECT_EQ(shared_image->image.data, bytes);
  std::weak_ptr<Image> weak = message;
  message.reset();
  EXPECT_FALSE(weak.expired());  // the shared image holds the message
  EXPECT_EQ(cvb::toCvShare(weak.lock(), "mono8")->image.type(), CV_8UC1);

  Image msg = make_image(2, 1, "rgb8");
  const uint8_t px[] = {10, 20, 30, 200, 100, 50};
  std::memcpy(msg.data.data(), px, sizeof(px));
  const Image original = msg;
  const auto bgr = cvb::toCvCopy(msg, "bgr8");
  EXPECT_EQ(bgr->image.at<cv::Vec3b>(0, 0), cv::Vec3b(30, 20, 10));
  const auto mono = cvb::toCvCopy(msg, "mono8");
  EXPECT_EQ(mono->image.type(), CV_8UC1);
  const auto mono16 = cvb::toCvCopy(msg, "mono16");
  EXPECT_EQ(mono16->image.type(), CV_16UC1);
  EXPECT_EQ(mono16->image.at<uint16_t>(0, 0), mono->image.at<uint8_t>(0, 0) * 257);
  const auto rgba = cvb::toCvCopy(msg, "bgra8");
  EXPECT_EQ(rgba->image.at<cv::Vec4b>(0, 1), cv::Vec4b(50, 100, 200, 255));
  EXPECT_EQ(msg, original);  // conversions never write into the message
  const auto shared = cvb::toCvShare(std::make_shared<const Image>(msg), "bgr8");
  EXPECT_EQ(shared->image.at<cv::Vec3b>(0, 1), cv::Vec3b(50, 100, 200));
}

TEST(CvBridge, DepthConversions)
{
  Image msg = make_image(3, 2, "16UC1");
  reinterpret_cast<uint16_t *>(msg.data.data())[0] = 1234;
  const auto metres_ready = cvb::toCvCopy(msg, "32FC1");
  EXPECT_EQ(metres_ready->image.type(), CV_32FC1);
  EXPECT_FLOAT_EQ(metres_ready->image.at<float>(0, 0), 1234.0f);  // no scaling
  EXPECT_EQ(cvb::toCvCopy(msg, "16UC1")->image.at<uint16_t>(0, 0), 1234);
  Image mono16 = msg;
  mono16.encoding = "mono16";
  EXPECT_EQ(cvb::toCvCopy(mono16, "16UC1")->image.at<uint16_t>(0, 0), 1234);
  EXPECT_EQ(cvb::toCvCopy(mono16, "mono8")->image.type(), CV_8UC1);

  EXPECT_THROW(cvb::toCvCopy(msg, "mono8"), cvb::Exception);   // 16UC1 is not a colour format
  EXPECT_THROW(cvb::toCvCopy(msg, "bgr8"), cvb::Exception);
  EXPECT_THROW(cvb::toCvCopy(make_image(2, 2, "rgb8"), "32FC1"), cvb::Exception);
  EXPECT_THROW(cvb::toCvCopy(msg, "bogus"), cvb::Exception);
}

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
  EXPECT_EQ(
    msg.fields[2], PointField().set__name("z").set__offset(8).set__datatype(PointField::FLOAT32)
    .set__count(1));
  EXPECT_EQ(msg.header, std_msgs::msg::Header().set__frame_id("base_footprint").set__stamp(
    builtin_interfaces::msg::Time().set__sec(1700000000).set__nanosec(123456000)));

  pcl::PointCloud<pcl::PointXYZ> back;
  pc::fromROSMsg(msg, back);  // validates the message first
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

TEST(PclConversions, RgbIntensityMissingAndMistypedFields)
{
  auto rgb = random_cloud<pcl::PointXYZRGB>(10);
  rgb[3].r = 200;
  rgb[3].g = 10;
  rgb[3].b = 7;
  PointCloud2 msg;
  pc::toROSMsg(rgb, msg);
  pcl::PointCloud<pcl::PointXYZRGB> back;
  pc::fromROSMsg(msg, back);
  EXPECT_EQ(back[3].r, 200);
  EXPECT_EQ(back[3].b, 7);

  auto intensity = random_cloud<pcl::PointXYZI>(5);
  intensity[4].intensity = 0.75f;
  pc::toROSMsg(intensity, msg);
  pcl::PointCloud<pcl::PointXYZI> back_i;
  pc::fromROSMsg(msg, back_i);
  EXPECT_FLOAT_EQ(back_i[4].intensity, 0.75f);

  // Extra fields are ignored when reading a narrower point type; missing or mistyped ones are
  // errors.
  pcl::PointCloud<pcl::PointXYZ> xyz;
  pc::fromROSMsg(msg, xyz);
  EXPECT_FLOAT_EQ(xyz[4].x, intensity[4].x);
  pc::toROSMsg(xyz, msg);
  EXPECT_EQ(
    message_of<std::invalid_argument>([&] {pc::fromROSMsg(msg, back_i);}),
    "point cloud has no field 'intensity'");
  msg.fields[0].datatype = PointField::FLOAT64;
  EXPECT_THROW(pc::fromROSMsg(msg, xyz), std::invalid_argument);
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

}  // namespace
