#include <gtest/gtest.h>

#include <limits>

#include "nimbra_perception_libs/perception_utils.hpp"

namespace orvix
{
namespace perception
{
namespace
{

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(BoxIou, Table)
{
  struct Case
  {
    const char * name;
    float a[4];
    float b[4];
    bool over_union;
    float expected;
  };
  const Case cases[] = {
    {"identical, union", {0, 0, 10, 10}, {0, 0, 10, 10}, true, 1.0F},
    {"half overlap, union", {0, 0, 10, 10}, {5, 0, 15, 10}, true, 50.0F / 150.0F},
    {"half overlap, over a", {0, 0, 10, 10}, {5, 0, 15, 10}, false, 0.5F},
    {"small inside large, union", {2, 2, 4, 4}, {0, 0, 10, 10}, true, 0.04F},
    {"small inside large, over a", {2, 2, 4, 4}, {0, 0, 10, 10}, false, 1.0F},
    {"large over small, over a", {0, 0, 10, 10}, {2, 2, 4, 4}, false, 0.04F},
    {"disjoint", {0, 0, 1, 1}, {2, 2, 3, 3}, true, 0.0F},
    {"touching edges", {0, 0, 1, 1}, {1, 0, 2, 1}, true, 0.0F},
    {"inverted box", {10, 10, 0, 0}, {0, 0, 10, 10}, true, 0.0F},
    {"zero area", {0, 0, 0, 10}, {0, 0, 10, 10}, false, 0.0F},
    {"NaN corner", {kNan, 0, 10, 10}, {0, 0, 10, 10}, true, 0.0F},
  };
  for (const Case & c : cases) {
    EXPECT_NEAR(boxIou(c.a[0], c.a[1], c.a[2], c.a[3], c.b[0], c.b[1], c.b[2], c.b[3], c.over_union),
      c.expected, 1e-6F) << c.name;
  }
}

cv::Mat rectMask(int rows, int cols, const cv::Rect & r)
{
  cv::Mat m = cv::Mat::zeros(rows, cols, CV_8UC1);
  m(r).setTo(255);
  return m;
}

TEST(MaskIou, Table)
{
  const cv::Mat a = rectMask(100, 100, cv::Rect(0, 0, 20, 10));    // 200 px
  const cv::Mat b = rectMask(100, 100, cv::Rect(10, 0, 40, 10));   // 400 px, 100 shared
  // A depth-sized mask (320 x 240) and a colour-sized mask (640 x 480) of the same region.
  const cv::Mat depth = rectMask(240, 320, cv::Rect(80, 60, 80, 60));
  const cv::Mat colour = rectMask(480, 640, cv::Rect(160, 120, 160, 120));
  const cv::Mat small = rectMask(10, 10, cv::Rect(0, 0, 5, 5));
  const cv::Mat none = cv::Mat::zeros(10, 10, CV_8UC1);
  cv::Mat as_float;
  small.convertTo(as_float, CV_32FC1);
  struct Case
  {
    const char * name;
    cv::Mat a, b;
    int mode;
    float expected;
  };
  const Case cases[] = {
    {"over first", a, b, kMaskOverFirst, 0.5F},
    {"over second", a, b, kMaskOverSecond, 0.25F},
    {"over union", a, b, kMaskOverUnion, 100.0F / 500.0F},
    {"unknown mode 7", a, b, 7, 0.0F},
    {"unknown mode -1", a, b, -1, 0.0F},
    {"depth over colour size", depth, colour, kMaskOverFirst, 1.0F},
    {"colour over depth size", colour, depth, kMaskOverUnion, 1.0F},
    {"half the region", depth, rectMask(480, 640, cv::Rect(160, 120, 80, 120)), kMaskOverFirst, 0.5F},
    {"3x3 against 1000x1000", rectMask(3, 3, cv::Rect(0, 0, 3, 3)),
      rectMask(1000, 1000, cv::Rect(0, 0, 1000, 1000)), kMaskOverUnion, 1.0F},
    {"odd sizes stay in bounds", rectMask(7, 13, cv::Rect(0, 0, 13, 7)),
      rectMask(480, 2, cv::Rect(0, 0, 1, 480)), kMaskOverUnion, 6.0F / 13.0F},  // columns 0-5 of 13
    {"empty first", cv::Mat(), small, kMaskOverUnion, 0.0F},
    {"empty second", small, cv::Mat(), kMaskOverFirst, 0.0F},
    {"nothing set in the first", none, small, kMaskOverFirst, 0.0F},
    {"nothing set in the second", small, none, kMaskOverSecond, 0.0F},
    {"three channels", cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(255)), small, kMaskOverUnion, 0.0F},
    {"float mask", as_float, small, kMaskOverUnion, 1.0F},
    // A region of interest has non-continuous rows.
    {"region of interest", rectMask(20, 20, cv::Rect(0, 0, 20, 20))(cv::Rect(5, 5, 10, 10)),
      rectMask(10, 10, cv::Rect(0, 0, 10, 10)), kMaskOverUnion, 1.0F},
  };
  for (const Case & c : cases) {
    EXPECT_NEAR(maskIou(c.a, c.b, c.mode), c.expected, 1e-6F) << c.name;
  }
}

TEST(PixelToMaskAndIsPointInMask, SetAndReadInsidePixelsOnly)
{
  cv::Mat mask = cv::Mat::zeros(4, 5, CV_8UC1);
  const std::vector<cv::Point> pixels = {{0, 0}, {4, 3}, {5, 0}, {-1, 2}, {2, 4}, {2, 1}};
  EXPECT_EQ(pixelToMask(pixels, mask), 3);
  EXPECT_EQ(cv::countNonZero(mask), 3);
  for (const cv::Point & p : {cv::Point(0, 0), cv::Point(4, 3), cv::Point(2, 1)}) {
    EXPECT_EQ(mask.at<std::uint8_t>(p), 255) << p;
    EXPECT_TRUE(isPointInMask(mask, p)) << p;
  }
  for (const cv::Point & p : {cv::Point(1, 0), cv::Point(1, 2), cv::Point(5, 2), cv::Point(3, 4),
      cv::Point(-1, 0)})
  {
    EXPECT_FALSE(isPointInMask(mask, p)) << p;
  }
  mask.at<std::uint8_t>(2, 3) = 1;  // any non-zero value is inside
  EXPECT_TRUE(isPointInMask(mask, {3, 2}));
  cv::Mat empty;
  EXPECT_EQ(pixelToMask(pixels, empty), 0);
  cv::Mat wrong = cv::Mat::zeros(4, 5, CV_32FC1);
  EXPECT_EQ(pixelToMask(pixels, wrong), 0);
  EXPECT_EQ(pixelToMask({}, mask), 0);
  EXPECT_FALSE(isPointInMask(cv::Mat(), {0, 0}));
  EXPECT_FALSE(isPointInMask(cv::Mat::ones(4, 5, CV_16UC1), {0, 0}));
}

TEST(Clamp, Table)
{
  struct Case
  {
    float value;
    int low;
    int high;
    int expected;
  };
  const Case cases[] = {
    {5.7F, 0, 10, 5}, {-3.2F, 0, 10, 0}, {12.0F, 0, 10, 10}, {10.0F, 0, 10, 10}, {0.0F, 0, 10, 0},
    {9.99F, 0, 10, 9}, {-0.5F, -1, 3, 0}, {kNan, 2, 10, 2}, {std::numeric_limits<float>::infinity(), 0, 639, 639},
    {-std::numeric_limits<float>::infinity(), 0, 639, 0}, {1e20F, 0, 479, 479}, {5.0F, 7, 3, 7},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(clamp(c.value, c.low, c.high), c.expected) << c.value << " in [" << c.low << ", " << c.high << "]";
  }
}

TEST(TimeConversion, StampsAndClockReadings)
{
  std_msgs::msg::Header header;
  header.stamp.sec = 1700000000;
  header.stamp.nanosec = 250000000;
  EXPECT_DOUBLE_EQ(TimeToDouble(header), 1700000000.25);
  EXPECT_DOUBLE_EQ(TimeToDouble(rclcdds::Time(12, 500000000U, rclcdds::RCL_ROS_TIME)), 12.5);
  struct Case
  {
    double seconds;
    std::int32_t sec;
    std::uint32_t nanosec;
    double tolerance_ns;
  };
  const Case cases[] = {
    {0.0, 0, 0, 0.0},
    {1.5, 1, 500000000U, 0.0},
    {1700000000.123456789, 1700000000, 123456789U, 300.0},  // the nearest double of the input
    {2.9999999999, 3, 0, 0.0},  // rounds up into the next second
    {-1.0, 0, 0, 0.0},
    {-1e300, 0, 0, 0.0},
    {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0.0},
    {3e9, 2147483647, 999999999U, 0.0},
    {std::numeric_limits<double>::infinity(), 2147483647, 999999999U, 0.0},
    {2147483647.5, 2147483647, 500000000U, 0.0},
  };
  for (const Case & c : cases) {
    const builtin_interfaces::msg::Time t = DoubleToStamp(c.seconds);
    EXPECT_EQ(t.sec, c.sec) << c.seconds;
    EXPECT_NEAR(static_cast<double>(t.nanosec), static_cast<double>(c.nanosec), c.tolerance_ns) << c.seconds;
  }
  // Round trip within a nanosecond-scale tolerance for ordinary stamps.
  for (double s : {0.000000001, 12.000000007, 1699999999.999999}) {
    EXPECT_NEAR(TimeToDouble(DoubleToStamp(s)), s, 1e-6) << s;
  }
}

}  // namespace
}  // namespace perception
}  // namespace orvix
