// Untrusted payloads: truncation, missing terminators, absurd counts, foreign encodings and
// random corruption are rejected with a reason, never read out of bounds and never allocate
// beyond what the payload could hold.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <geometry_msgs/msg/point.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>
#include <std_msgs/msg/string.hpp>

#include "cdr_test_helpers.hpp"
#include "rclcdds/serialization.hpp"

namespace
{

template<class T>
std::vector<uint8_t> wire_of(const T & msg)
{
  rclcdds::SerializedMessage out;
  rclcdds::serialize_message(rclcdds::get_message_members<T>(), &msg, out);
  return rclcdds_test::bytes_of(out);
}

template<class T>
bool decode(const std::vector<uint8_t> & bytes, std::string * error = nullptr)
{
  T msg;
  return rclcdds::deserialize_message(
    rclcdds::get_message_members<T>(), bytes.data(), bytes.size(), &msg, nullptr, error);
}

sensor_msgs::msg::Image small_image()
{
  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera";
  image.height = 2;
  image.width = 3;
  image.encoding = "mono8";
  image.step = 3;
  image.data = {1, 2, 3, 4, 5, 6};
  return image;
}

}  // namespace

TEST(CdrMalformed, EveryTruncationOfAnImageIsRejected)
{
  const sensor_msgs::msg::Image image = small_image();
  const std::vector<uint8_t> full = wire_of(image);
  // The image body ends with the data bytes: 2 padding bytes follow (body 54 -> 56).
  const size_t body_end = full.size() - 2;
  for (size_t cut = 0; cut < body_end; ++cut) {
    const std::vector<uint8_t> truncated(full.begin(), full.begin() + cut);
    std::string error;
    EXPECT_FALSE(decode<sensor_msgs::msg::Image>(truncated, &error)) << "cut at " << cut;
    EXPECT_FALSE(error.empty());
  }
  const std::vector<uint8_t> without_padding(full.begin(), full.begin() + body_end);
  EXPECT_TRUE(decode<sensor_msgs::msg::Image>(without_padding));
}

TEST(CdrMalformed, PayloadOneByteShortOfItsLastPrimitiveIsRejected)
{
  // A message that ends in a primitive: every cut, down to one byte short, must be refused (a
  // bounds check that is off by one would read the missing byte past the end of the buffer).
  geometry_msgs::msg::Point point;
  point.x = 1.5;
  point.y = -2.0;
  point.z = 0.25;
  const std::vector<uint8_t> full = wire_of(point);
  ASSERT_EQ(full.size(), 4u + 24u);
  for (size_t cut = 0; cut < full.size(); ++cut) {
    const std::vector<uint8_t> truncated(full.begin(), full.begin() + cut);
    EXPECT_FALSE(decode<geometry_msgs::msg::Point>(truncated)) << "cut at " << cut;
  }
  EXPECT_TRUE(decode<geometry_msgs::msg::Point>(full));
}

TEST(CdrMalformed, StringWithoutTerminatorIsRejected)
{
  std_msgs::msg::String text;
  text.data = "abc";
  std::vector<uint8_t> bytes = wire_of(text);  // 00 01 00 00 | 04 00 00 00 'a' 'b' 'c' 00
  ASSERT_EQ(bytes.size(), 12u);
  bytes[11] = 'd';
  std::string error;
  EXPECT_FALSE(decode<std_msgs::msg::String>(bytes, &error));
  EXPECT_NE(error.find("terminating NUL"), std::string::npos) << error;
  EXPECT_NE(error.find("'data'"), std::string::npos) << error;
}

TEST(CdrMalformed, CountsBeyondTheRemainingBytesAreRejected)
{
  struct Case
  {
    const char * name;
    uint32_t count;
  };
  const Case cases[] = {
    {"one past the padding", 9},
    {"huge", 0x7fffffffu},
    {"all ones", 0xffffffffu},
  };
  for (const Case & c : cases) {
    std::vector<uint8_t> bytes = wire_of(small_image());
    // Data count word at body offset 44 for frame "camera"; 6 data + 2 padding bytes follow.
    const size_t count_at = 4 + 44;
    uint32_t original = 0;
    std::memcpy(&original, &bytes[count_at], 4);
    ASSERT_EQ(original, 6u);
    std::memcpy(&bytes[count_at], &c.count, 4);
    std::string error;
    EXPECT_FALSE(decode<sensor_msgs::msg::Image>(bytes, &error)) << c.name;
    EXPECT_NE(error.find("'data'"), std::string::npos) << c.name << ": " << error;
  }
}

TEST(CdrMalformed, NestedSequenceCountCannotForceLargeAllocations)
{
  // A count of 2^31 clusters in a 100-byte payload must be refused before any resize.
  nimbra_protocol::msg::SemanticPointCloud cloud;
  cloud.header.frame_id = "base_footprint";
  std::vector<uint8_t> bytes = wire_of(cloud);
  // clusters count follows the header: 4 + 8 + 4 + 15 ("base_footprint\0") -> offset 4 + 27,
  // aligned to 4 + 28.
  const size_t count_at = 4 + 28;
  const uint32_t huge = 0x80000000u;
  std::memcpy(&bytes[count_at], &huge, 4);
  std::string error;
  EXPECT_FALSE(decode<nimbra_protocol::msg::SemanticPointCloud>(bytes, &error));
  EXPECT_NE(error.find("'clusters'"), std::string::npos) << error;
}

TEST(CdrMalformed, ForeignEncapsulationsAreRejected)
{
  const std::vector<std::vector<uint8_t>> headers = {
    {0x00, 0x02, 0x00, 0x00},  // PL_CDR_BE
    {0x00, 0x03, 0x00, 0x00},  // PL_CDR_LE
    {0x00, 0x07, 0x00, 0x00},  // XCDR2 little endian
    {0x01, 0x01, 0x00, 0x00},
  };
  for (const auto & header : headers) {
    std::vector<uint8_t> bytes = wire_of(std_msgs::msg::Header());
    std::copy(header.begin(), header.end(), bytes.begin());
    std::string error;
    EXPECT_FALSE(decode<std_msgs::msg::Header>(bytes, &error));
    EXPECT_NE(error.find("encapsulation"), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(decode<std_msgs::msg::Header>({0x00, 0x01}, &error));
  EXPECT_FALSE(error.empty());
}

TEST(CdrMalformed, RandomCorruptionNeverCrashes)
{
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "lidar";
  cloud.height = 1;
  cloud.width = 4;
  cloud.fields.resize(3);
  cloud.fields[0].name = "x";
  cloud.fields[1].name = "y";
  cloud.fields[2].name = "intensity";
  cloud.data.assign(64, 0xab);
  const std::vector<uint8_t> original = wire_of(cloud);
  std::mt19937 rng(2024);
  size_t rejected = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> bytes = original;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      bytes[4 + rng() % (bytes.size() - 4)] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 == 0) {
      bytes.resize(rng() % bytes.size());
    }
    std::string error;
    if (!decode<sensor_msgs::msg::PointCloud2>(bytes, &error)) {
      ++rejected;
      EXPECT_FALSE(error.empty());
    }
  }
  // Most corruptions hit counts or lengths; some land in plain numbers and decode fine.
  EXPECT_GT(rejected, 1000u);
  EXPECT_LT(rejected, 20000u);
}
