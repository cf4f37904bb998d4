// Image conversions: validation before any pixel is read, sharing, copies and conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "rclcdds/conversions/cv_bridge.hpp"

namespace
{

namespace cvb = rclcdds::cv_bridge;
using sensor_msgs::msg::Image;

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
    try {
      cvb::toCvCopy(msg);
      ADD_FAILURE() << c.what << " accepted by toCvCopy";
    } catch (const cvb::Exception & e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    auto shared = std::make_shared<const Image>(msg);
    EXPECT_THROW(cvb::toCvShare(shared), cvb::Exception) << c.what;
    EXPECT_THROW(cvb::toCvCopy(msg, "32FC1"), cvb::Exception) << c.what;
  }
}

TEST(CvBridge, CopyKeepsPixelsAndHeader)
{
  const Image msg = make_image(5, 4, "16UC1", 6);  // padded rows
  const auto copy = cvb::toCvCopy(msg);
  ASSERT_EQ(copy->image.type(), CV_16UC1);
  EXPECT_EQ(copy->image.cols, 5);
  EXPECT_EQ(copy->header.frame_id, "camera");
  EXPECT_EQ(copy->encoding, "16UC1");
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(0, std::memcmp(copy->image.ptr(r), msg.data.data() + r * msg.step, 10));
  }
  EXPECT_NE(copy->image.data, msg.data.data());
}

TEST(CvBridge, ShareUsesMessageMemoryAndKeepsItAlive)
{
  auto msg = std::make_shared<Image>(make_image(8, 2, "bgr8"));
  const uint8_t * bytes = msg->data.data();
  cvb::CvImageConstPtr shared = cvb::toCvShare(msg);
  EXPECT_EQ(shared->image.data, bytes);
  std::weak_ptr<Image> weak = msg;
  msg.reset();
  EXPECT_FALSE(weak.expired());  // the shared image holds the message
  const auto converted = cvb::toCvShare(weak.lock(), "mono8");
  EXPECT_EQ(converted->image.type(), CV_8UC1);
}

TEST(CvBridge, ColourConversions)
{
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
  const auto as_mono16 = cvb::toCvCopy(msg, "16UC1");
  EXPECT_EQ(as_mono16->image.at<uint16_t>(0, 0), 1234);
  Image mono16 = msg;
  mono16.encoding = "mono16";
  EXPECT_EQ(cvb::toCvCopy(mono16, "16UC1")->image.at<uint16_t>(0, 0), 1234);
  EXPECT_EQ(cvb::toCvCopy(mono16, "mono8")->image.type(), CV_8UC1);

  EXPECT_THROW(cvb::toCvCopy(msg, "mono8"), cvb::Exception);   // 16UC1 is not a colour format
  EXPECT_THROW(cvb::toCvCopy(msg, "bgr8"), cvb::Exception);
  EXPECT_THROW(cvb::toCvCopy(make_image(2, 2, "rgb8"), "32FC1"), cvb::Exception);
  EXPECT_THROW(cvb::toCvCopy(msg, "bogus"), cvb::Exception);
}

TEST(CvBridge, BigEndianMessagesAreSwapped)
{
  Image msg = make_image(2, 1, "16UC1");
  msg.is_bigendian = 1;
  msg.data = {0x12, 0x34, 0xAB, 0xCD};
  const auto copy = cvb::toCvCopy(msg);
  EXPECT_EQ(copy->image.at<uint16_t>(0, 0), 0x1234);
  EXPECT_EQ(copy->image.at<uint16_t>(0, 1), 0xABCD);
  EXPECT_NE(cvb::toCvShare(std::make_shared<const Image>(msg))->image.data, nullptr);
}

TEST(CvBridge, ToImageMsgRoundTrip)
{
  const Image msg = make_image(7, 5, "32FC1", 4);
  const auto copy = cvb::toCvCopy(msg);
  const auto back = copy->toImageMsg();
  EXPECT_EQ(back->step, 28u);
  EXPECT_EQ(back->data.size(), 140u);
  EXPECT_EQ(back->header.stamp.sec, 12);
  EXPECT_TRUE(cvb::validateImage(*back, nullptr));
  EXPECT_EQ(0, std::memcmp(back->data.data() + 28, msg.data.data() + msg.step, 28));

  cvb::CvImage wrong(msg.header, "mono8", cv::Mat(2, 2, CV_16UC1));
  EXPECT_THROW(wrong.toImageMsg(), cvb::Exception);
  cvb::CvImage empty(msg.header, "mono8");
  EXPECT_EQ(empty.toImageMsg()->data.size(), 0u);
  Image empty_msg;  // an empty image is valid
  empty_msg.encoding = "mono8";
  EXPECT_TRUE(cvb::validateImage(empty_msg, nullptr));
  EXPECT_TRUE(cvb::toCvCopy(empty_msg)->image.empty());
}

}  // namespace
