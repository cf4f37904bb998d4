// Our CDR must equal ROS 2's to the byte: expected payloads are written out by hand from the
// XCDR1 rules (little endian, alignment from the first byte after the 4-byte header, strings with
// length and NUL, sequences with a count, zero padding to a multiple of 4). Payloads are hex, one
// group of fields per line, with the body offset of the line's first byte on the right.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>
#include <std_msgs/msg/header.hpp>
#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>
#include <lifecycle_msgs/srv/get_state.hpp>

#include "cdr_test_helpers.hpp"
#include "rclcdds/serialization.hpp"

namespace
{

/// Our CDR of `msg` must be `expected`, and `expected` must decode back to `msg`.
template<class T>
void expect_wire(const T & msg, const std::vector<uint8_t> & expected)
{
  EXPECT_EQ(rclcdds_test::wire_of(msg), expected);
  T decoded;
  std::string error;
  EXPECT_TRUE(rclcdds_test::decode(expected, &error, &decoded)) << error;
  EXPECT_EQ(decoded, msg);
}

using rclcdds_test::hex;

}  // namespace

TEST(CdrBytes, HeaderWithFrameIdInBothByteOrders)
{
  std_msgs::msg::Header header;
  header.stamp.sec = 1700000000;      // 0x6553f100
  header.stamp.nanosec = 123456789;   // 0x075bcd15
  header.frame_id = "map";
  expect_wire(header, hex("00010000 00f15365 15cd5b07 04000000 6d617000"));  // frame_id "map"
  // A peer may send big endian (encapsulation 00 00): read, never written.
  std_msgs::msg::Header decoded;
  ASSERT_TRUE(rclcdds_test::decode(
      hex("00000000 6553f100 075bcd15 00000004 6d617000"), nullptr, &decoded));
  EXPECT_EQ(decoded, header);
}

TEST(CdrBytes, Image2x2Mono16)
{
  sensor_msgs::msg::Image image;
  image.header.stamp.sec = 1;
  image.header.stamp.nanosec = 2;
  image.header.frame_id = "cam";
  image.height = 2;
  image.width = 2;
  image.encoding = "16UC1";
  image.is_bigendian = 0;
  image.step = 4;
  image.data = {1, 2, 3, 4, 5, 6, 7, 8};
  const auto expected = hex(
    "00010000"
    "01000000 02000000 04000000 63616d00"  // header: stamp 1 s 2 ns, frame_id "cam"       0
    "02000000 02000000"                    // height, width                               16
    "06000000 31365543 3100"               // encoding "16UC1"                            24
    "00 00"                                // is_bigendian, padding to 4                  34
    "04000000"                             // step                                        36
    "08000000 01020304 05060708");         // data: count, bytes                          40
  expect_wire(image, expected);
  EXPECT_EQ(
    rclcdds::dds_type_name(rclcdds::get_message_members<sensor_msgs::msg::Image>()),
    "sensor_msgs::msg::dds_::Image_");
}

TEST(CdrBytes, PointCloud2WithTwoFields)
{
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.height = 1;
  cloud.width = 2;
  sensor_msgs::msg::PointField x;
  x.name = "x";
  x.offset = 0;
  x.datatype = sensor_msgs::msg::PointField::FLOAT32;
  x.count = 1;
  sensor_msgs::msg::PointField y = x;
  y.name = "y";
  y.offset = 4;
  cloud.fields = {x, y};
  cloud.is_bigendian = false;
  cloud.point_step = 8;
  cloud.row_step = 16;
  const float values[4] = {1.0f, 2.0f, -1.5f, 0.5f};
  cloud.data.resize(sizeof(values));
  std::memcpy(cloud.data.data(), values, sizeof(values));
  cloud.is_dense = true;
  const auto expected = hex(
    "00010000"
    "00000000 00000000 01000000 00 000000"  // header: stamp, frame_id "", padding         0
    "01000000 02000000"                     // height, width                              16
    "02000000"                              // fields: count                              24
    "02000000 7800 0000 00000000"           // fields[0]: name "x", padding, offset 0      28
    "07 000000 01000000"                    //   datatype FLOAT32, padding, count 1         40
    "02000000 7900 0000 04000000"           // fields[1]: name "y", padding, offset 4      48
    "07 000000 01000000"                    //   datatype FLOAT32, padding, count 1         60
    "00 000000 08000000 10000000"           // is_bigendian, padding, point/row_step       68
    "10000000 0000803f 00000040"            // data: count 16, x 1.0, y 2.0               80
    "0000c0bf 0000003f"                     //   x -1.5, y 0.5                            92
    "01 000000");                           // is_dense, padding to a multiple of 4      100
  expect_wire(cloud, expected);
}

TEST(CdrBytes, EmptySequencesAreNotAligned)
{
  // An empty int64[] or float64[] adds its count only: no padding to 8 for absent elements.
  rcl_interfaces::msg::ParameterValue value;
  expect_wire(value, hex(
    "00010000"
    "00 00 000000000000"                   // type, bool_value, padding to 8               0
    "00000000 00000000 00000000 00000000"  // integer_value, double_value                  8
    "01000000 00 000000"                   // string_value "", padding                    24
    "00000000 00000000 00000000"           // byte, bool and integer_array_value counts   32
    "00000000 00000000"));                 // double and string_array_value counts        44

  // With elements: std::vector<bool> as bytes, the int64 element aligned to 8.
  value.bool_array_value = {true, false, true};  // std::vector<bool>
  value.integer_array_value = {-2};
  expect_wire(value, hex(
    "00010000"
    "0000 000000000000 00000000 00000000 00000000 00000000"  // as above               0
    "01000000 00 000000"                   // string_value "", padding                    24
    "00000000"                             // byte_array_value                            32
    "03000000 010001 00"                   // bool_array_value: count, bytes; padding     36
    "01000000 feffffffffffffff"            // integer_array_value: count, -2 at 48        44
    "00000000 00000000"));                 // double_array_value, string_array_value      56
}

TEST(CdrBytes, MessageWithoutFieldsCarriesOneByte)
{
  rcl_interfaces::msg::ParameterType type;  // constants only
  expect_wire(type, hex("00010000 00 000000"));  // one zero byte, padded to 4
}

TEST(CdrBytes, ServicePrefixFollowsTheHeader)
{
  lifecycle_msgs::srv::GetState::Response response;
  response.current_state.id = 3;
  response.current_state.label = "active";
  rclcdds::ServicePrefix prefix;
  prefix.guid = 0x0102030405060708ull;
  prefix.sequence = 42;
  const auto expected = hex(
    "00010000"
    "08070605 04030201 2a000000 00000000"  // prefix: guid, sequence                       0
    "03 000000"                            // current_state.id (uint8), padding           16
    "07000000 61637469 766500 00");        // label "active", padding to a multiple of 4  20
  EXPECT_EQ(rclcdds_test::wire_of(response, &prefix), expected);

  lifecycle_msgs::srv::GetState::Response decoded;
  rclcdds::ServicePrefix decoded_prefix;
  const auto & members = rclcdds::get_message_members<lifecycle_msgs::srv::GetState::Response>();
  ASSERT_TRUE(rclcdds::deserialize_message(
      members, expected.data(), expected.size(), &decoded, &decoded_prefix));
  EXPECT_EQ(decoded, response);
  EXPECT_EQ(decoded_prefix.guid, prefix.guid);
  EXPECT_EQ(decoded_prefix.sequence, prefix.sequence);
  EXPECT_EQ(rclcdds::dds_type_name(members), "lifecycle_msgs::srv::dds_::GetState_Response_");
}
