// Our CDR must equal ROS 2's to the byte: expected payloads are written out by hand from the
// XCDR1 rules (little endian, alignment from the first byte after the 4-byte header, strings with
// length and NUL, sequences with a count, zero padding to a multiple of 4).
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

}  // namespace

TEST(CdrBytes, HeaderWithFrameIdInBothByteOrders)
{
  std_msgs::msg::Header header;
  header.stamp.sec = 1700000000;      // 0x6553f100
  header.stamp.nanosec = 123456789;   // 0x075bcd15
  header.frame_id = "map";
  const std::vector<uint8_t> expected = {
    0x00, 0x01, 0x00, 0x00,
    0x00, 0xf1, 0x53, 0x65,
    0x15, 0xcd, 0x5b, 0x07,
    0x04, 0x00, 0x00, 0x00,  // length 4
    'm', 'a', 'p', 0x00,
  };
  expect_wire(header, expected);
  // A peer may send big endian: read, never written.
  const std::vector<uint8_t> big_endian = {
    0x00, 0x00, 0x00, 0x00,
    0x65, 0x53, 0xf1, 0x00,
    0x07, 0x5b, 0xcd, 0x15,
    0x00, 0x00, 0x00, 0x04,
    'm', 'a', 'p', 0x00,
  };
  std_msgs::msg::Header decoded;
  ASSERT_TRUE(rclcdds_test::decode(big_endian, nullptr, &decoded));
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
  const std::vector<uint8_t> expected = {
    0x00, 0x01, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00,               // header.stamp.sec          body offset 0
    0x02, 0x00, 0x00, 0x00,               // header.stamp.nanosec      4
    0x04, 0x00, 0x00, 0x00, 'c', 'a', 'm', 0x00,  // header.frame_id   8
    0x02, 0x00, 0x00, 0x00,               // height                    16
    0x02, 0x00, 0x00, 0x00,               // width                     20
    0x06, 0x00, 0x00, 0x00, '1', '6', 'U', 'C', '1', 0x00,  // encoding 24
    0x00,                                 // is_bigendian              34
    0x00,                                 // padding to 4              35
    0x04, 0x00, 0x00, 0x00,               // step                      36
    0x08, 0x00, 0x00, 0x00,               // data count                40
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // data           44
  };
  expect_wire(image, expected);
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
  const std::vector<uint8_t> expected = {
    0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,               // header.stamp.sec          0
    0x00, 0x00, 0x00, 0x00,               // header.stamp.nanosec      4
    0x01, 0x00, 0x00, 0x00, 0x00,         // header.frame_id ""        8
    0x00, 0x00, 0x00,                     // padding                   13
    0x01, 0x00, 0x00, 0x00,               // height                    16
    0x02, 0x00, 0x00, 0x00,               // width                     20
    0x02, 0x00, 0x00, 0x00,               // fields count              24
    0x02, 0x00, 0x00, 0x00, 'x', 0x00,    // fields[0].name            28
    0x00, 0x00,                           // padding                   34
    0x00, 0x00, 0x00, 0x00,               // fields[0].offset          36
    0x07,                                 // fields[0].datatype        40
    0x00, 0x00, 0x00,                     // padding                   41
    0x01, 0x00, 0x00, 0x00,               // fields[0].count           44
    0x02, 0x00, 0x00, 0x00, 'y', 0x00,    // fields[1].name            48
    0x00, 0x00,                           // padding                   54
    0x04, 0x00, 0x00, 0x00,               // fields[1].offset          56
    0x07,                                 // fields[1].datatype        60
    0x00, 0x00, 0x00,                     // padding                   61
    0x01, 0x00, 0x00, 0x00,               // fields[1].count           64
    0x00,                                 // is_bigendian              68
    0x00, 0x00, 0x00,                     // padding                   69
    0x08, 0x00, 0x00, 0x00,               // point_step                72
    0x10, 0x00, 0x00, 0x00,               // row_step                  76
    0x10, 0x00, 0x00, 0x00,               // data count                80
    0x00, 0x00, 0x80, 0x3f, 0x00, 0x00, 0x00, 0x40,  // x 1.0, y 2.0   84
    0x00, 0x00, 0xc0, 0xbf, 0x00, 0x00, 0x00, 0x3f,  // x -1.5, y 0.5
    0x01,                                 // is_dense                  100
    0x00, 0x00, 0x00,                     // padding to a multiple of 4
  };
  expect_wire(cloud, expected);
}

TEST(CdrBytes, EmptySequencesAreNotAligned)
{
  // An empty int64[] or float64[] adds its count only: no padding to 8 for absent elements.
  rcl_interfaces::msg::ParameterValue value;
  std::vector<uint8_t> expected = {
    0x00, 0x01, 0x00, 0x00,
    0x00,                                            // type                  0
    0x00,                                            // bool_value            1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // padding to 8          2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // integer_value         8
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // double_value          16
    0x01, 0x00, 0x00, 0x00, 0x00,                    // string_value ""       24
    0x00, 0x00, 0x00,                                // padding               29
    0x00, 0x00, 0x00, 0x00,                          // byte_array_value      32
    0x00, 0x00, 0x00, 0x00,                          // bool_array_value      36
    0x00, 0x00, 0x00, 0x00,                          // integer_array_value   40
    0x00, 0x00, 0x00, 0x00,                          // double_array_value    44
    0x00, 0x00, 0x00, 0x00,                          // string_array_value    48
  };
  expect_wire(value, expected);

  // With elements: std::vector<bool> as bytes, the int64 element aligned to 8.
  value.bool_array_value = {true, false, true};  // std::vector<bool>
  value.integer_array_value = {-2};
  expected = {
    0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // string_value "" + padding   24
    0x00, 0x00, 0x00, 0x00,                          // byte_array_value            32
    0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01,        // bool_array_value            36
    0x00,                                            // padding                     43
    0x01, 0x00, 0x00, 0x00,                          // integer_array_value count   44
    0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,  // -2 (aligned at 48)          48
    0x00, 0x00, 0x00, 0x00,                          // double_array_value          56
    0x00, 0x00, 0x00, 0x00,                          // string_array_value          60
  };
  expect_wire(value, expected);
}

TEST(CdrBytes, MessageWithoutFieldsCarriesOneByte)
{
  rcl_interfaces::msg::ParameterType type;  // constants only
  const std::vector<uint8_t> expected = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  expect_wire(type, expected);
}

TEST(CdrBytes, ServicePrefixFollowsTheHeader)
{
  lifecycle_msgs::srv::GetState::Response response;
  response.current_state.id = 3;
  response.current_state.label = "active";
  rclcdds::ServicePrefix prefix;
  prefix.guid = 0x0102030405060708ull;
  prefix.sequence = 42;
  const std::vector<uint8_t> expected = {
    0x00, 0x01, 0x00, 0x00,
    0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // guid
    0x2a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // sequence
    0x03,                                            // current_state.id (uint8)
    0x00, 0x00, 0x00,                                // padding
    0x07, 0x00, 0x00, 0x00, 'a', 'c', 't', 'i', 'v', 'e', 0x00,  // label
    0x00,                                            // padding to a multiple of 4
  };
  EXPECT_EQ(rclcdds_test::wire_of(response, &prefix), expected);

  lifecycle_msgs::srv::GetState::Response decoded;
  rclcdds::ServicePrefix decoded_prefix;
  ASSERT_TRUE(
    rclcdds::deserialize_message(
      rclcdds::get_message_members<lifecycle_msgs::srv::GetState::Response>(), expected.data(),
      expected.size(), &decoded, &decoded_prefix));
  EXPECT_EQ(decoded, response);
  EXPECT_EQ(decoded_prefix.guid, prefix.guid);
  EXPECT_EQ(decoded_prefix.sequence, prefix.sequence);
}

TEST(CdrBytes, DdsTypeNamesFollowRos2)
{
  EXPECT_EQ(
    rclcdds::dds_type_name(rclcdds::get_message_members<sensor_msgs::msg::Image>()),
    "sensor_msgs::msg::dds_::Image_");
  const auto & service = rclcdds::get_service_members<lifecycle_msgs::srv::GetState>();
  EXPECT_EQ(
    rclcdds::dds_type_name(*service.request_members_),
    "lifecycle_msgs::srv::dds_::GetState_Request_");
  EXPECT_EQ(
    rclcdds::dds_type_name(*service.response_members_),
    "lifecycle_msgs::srv::dds_::GetState_Response_");
}
