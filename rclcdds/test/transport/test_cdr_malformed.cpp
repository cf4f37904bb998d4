// Untrusted payloads: truncation, missing terminators, absurd counts, foreign encodings and
// random corruption are rejected with a reason, never read out of bounds and never allocate
// beyond what the payload could hold.
#include <gtest/gtest.h>

#include <algorithm>
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

using rclcdds_test::decode;
using rclcdds_test::hex;
using rclcdds_test::wire_of;

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

using Decoder = bool (*)(const std::vector<uint8_t> &, std::string *);

template<class T>
bool decode_as(const std::vector<uint8_t> & bytes, std::string * error)
{
  return decode<T>(bytes, error);
}

}  // namespace

TEST(CdrMalformed, PayloadOneByteShortOfItsLastPrimitiveIsRejected)
{
  // Every cut short of the last field must be refused with a reason (a bounds check that is off
  // by one would read the missing byte past the end of the buffer); only the final padding may
  // be missing.
  geometry_msgs::msg::Point point;  // ends in a primitive: 4 + 24 bytes, no padding
  point.x = 1.5;
  point.y = -2.0;
  point.z = 0.25;
  struct Case
  {
    const char * name;
    std::vector<uint8_t> wire;
    size_t padding;  // bytes after the last field
    Decoder decode;
  };
  const Case cases[] = {
    {"Point", wire_of(point), 0, decode_as<geometry_msgs::msg::Point>},
    // The image body ends with its 6 data bytes at 54, padded to 56.
    {"Image", wire_of(small_image()), 2, decode_as<sensor_msgs::msg::Image>},
  };
  for (const Case & c : cases) {
    const size_t end = c.wire.size() - c.padding;
    for (size_t cut = 0; cut < end; ++cut) {
      SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
      std::string error;
      EXPECT_FALSE(c.decode(std::vector<uint8_t>(c.wire.begin(), c.wire.begin() + cut), &error));
      EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(c.decode(std::vector<uint8_t>(c.wire.begin(), c.wire.begin() + end), nullptr))
      << c.name;
  }
}

TEST(CdrMalformed, CorruptedFieldsAreRejectedWithAReason)
{
  // Counts beyond the remaining bytes must be refused before any resize (no allocation a
  // 100-byte payload could force), strings must end in NUL, only plain CDR is read.
  nimbra_protocol::msg::SemanticPointCloud cloud;
  cloud.header.frame_id = "base_footprint";
  // "abc": 00 01 00 00 | 04 00 00 00 'a' 'b' 'c' 00
  const auto text = wire_of(std_msgs::msg::String().set__data("abc"));
  const Decoder image = decode_as<sensor_msgs::msg::Image>;
  const Decoder header = decode_as<std_msgs::msg::Header>;
  const Decoder semantic = decode_as<nimbra_protocol::msg::SemanticPointCloud>;
  struct Case
  {
    const char * name;
    std::vector<uint8_t> wire;
    size_t at;
    std::vector<uint8_t> patch;
    Decoder decode;
    std::vector<const char *> reason;
  };
  // The image's data count sits at body offset 44 (frame "camera"), 6 data + 2 padding follow;
  // the clusters count follows the header: 8 + 4 + 15 ("base_footprint\0") aligned to 28.
  const Case cases[] = {
    {"string without its NUL", text, 11, {'d'}, decode_as<std_msgs::msg::String>,
      {"terminating NUL", "'data'"}},
    {"count one past the padding", wire_of(small_image()), 4 + 44, hex("09000000"), image,
      {"'data'"}},
    {"huge count", wire_of(small_image()), 4 + 44, hex("ffffff7f"), image, {"'data'"}},
    {"all-ones count", wire_of(small_image()), 4 + 44, hex("ffffffff"), image, {"'data'"}},
    {"2^31 nested clusters", wire_of(cloud), 4 + 28, hex("00000080"), semantic,
      {"sequence count", "'clusters'"}},
    // 2 clusters fit in the 8 bytes left as a byte count, not as clusters.
    {"clusters the bytes left cannot hold", wire_of(cloud), 4 + 28, hex("02000000"), semantic,
      {"sequence count 2 exceeds", "'clusters'"}},
    {"PL_CDR_BE", wire_of(std_msgs::msg::Header()), 0, {0x00, 0x02}, header, {"encapsulation"}},
    {"PL_CDR_LE", wire_of(std_msgs::msg::Header()), 0, {0x00, 0x03}, header, {"encapsulation"}},
    {"XCDR2 LE", wire_of(std_msgs::msg::Header()), 0, {0x00, 0x07}, header, {"encapsulation"}},
    {"01 01", wire_of(std_msgs::msg::Header()), 0, {0x01, 0x01}, header, {"encapsulation"}},
    {"2-byte payload", {0x00, 0x01}, 0, {}, header, {"4-byte encapsulation header"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = c.wire;
    std::copy(c.patch.begin(), c.patch.end(), bytes.begin() + c.at);
    std::string error;
    EXPECT_FALSE(c.decode(bytes, &error));
    for (const char * part : c.reason) {
      EXPECT_NE(error.find(part), std::string::npos) << error;
    }
  }
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
