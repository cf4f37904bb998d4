// Field kinds our generated messages do not use (bounded strings and sequences, wide strings,
// char/wchar, fixed arrays of strings, booleans and messages) through a hand-written
// introspection description of a test struct, laid out as rosidl's C++ generator lays them out.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <rosidl_runtime_cpp/bounded_vector.hpp>
#include <rosidl_typesupport_introspection_cpp/field_types.hpp>

#include "cdr_test_helpers.hpp"
#include "rclcdds/serialization.hpp"

namespace
{

namespace ts = rosidl_typesupport_introspection_cpp;

struct Inner
{
  int16_t value{0};
  std::string label;
  bool operator==(const Inner & o) const {return value == o.value && label == o.label;}
};

struct AllKinds
{
  bool flag{false};
  unsigned char letter{0};
  char16_t wide_letter{0};
  int8_t small{0};
  uint64_t big{0};
  std::string bounded_text;                                   // string<=5
  std::u16string wide_text;
  std::array<bool, 3> flags{};
  std::array<std::string, 2> names{};
  std::array<Inner, 2> pair{};
  rosidl_runtime_cpp::BoundedVector<int32_t, 3> bounded_ints;  // int32[<=3]
  rosidl_runtime_cpp::BoundedVector<bool, 4> bounded_flags;    // bool[<=4]
  rosidl_runtime_cpp::BoundedVector<Inner, 2> bounded_inners;  // Inner[<=2]
  std::vector<bool> bits;
  std::vector<std::string> words;

  bool operator==(const AllKinds & o) const
  {
    return flag == o.flag && letter == o.letter && wide_letter == o.wide_letter &&
           small == o.small && big == o.big && bounded_text == o.bounded_text &&
           wide_text == o.wide_text && flags == o.flags && names == o.names && pair == o.pair &&
           bounded_ints == o.bounded_ints && bounded_flags == o.bounded_flags &&
           bounded_inners == o.bounded_inners && bits == o.bits && words == o.words;
  }
};

template<class Seq> size_t size_of(const void * p) {return static_cast<const Seq *>(p)->size();}
template<class Seq> const void * get_const(const void * p, size_t i)
{
  return &(*static_cast<const Seq *>(p))[i];
}
template<class Seq> void * get(void * p, size_t i) {return &(*static_cast<Seq *>(p))[i];}
template<class T, class = void>
struct HasResize : std::false_type {};
template<class T>
struct HasResize<T, std::void_t<decltype(std::declval<T &>().resize(0))>>: std::true_type {};

template<class Seq> void resize(void * p, size_t n)
{
  if constexpr (HasResize<Seq>::value) {
    static_cast<Seq *>(p)->resize(n);
  }
}
template<class Seq> void fetch_bool(const void * p, size_t i, void * v)
{
  *static_cast<bool *>(v) = (*static_cast<const Seq *>(p))[i];
}
template<class Seq> void assign_bool(void * p, size_t i, const void * v)
{
  (*static_cast<Seq *>(p))[i] = *static_cast<const bool *>(v);
}

ts::MessageMember scalar(const char * name, uint8_t type, uint32_t offset, size_t bound = 0)
{
  return ts::MessageMember{name, type, bound, nullptr, false, 0, false, offset, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
}

template<class Seq>
ts::MessageMember array(
  const char * name, uint8_t type, uint32_t offset, size_t size, bool upper_bound,
  const rosidl_message_type_support_t * nested = nullptr)
{
  return ts::MessageMember{name, type, 0, nested, true, size, upper_bound, offset, nullptr,
    size_of<Seq>, get_const<Seq>, get<Seq>, nullptr, nullptr, resize<Seq>};
}

template<class Seq>
ts::MessageMember bool_sequence(const char * name, uint32_t offset, size_t bound)
{
  return ts::MessageMember{name, ts::ROS_TYPE_BOOLEAN, 0, nullptr, true, bound, bound > 0, offset,
    nullptr, size_of<Seq>, nullptr, nullptr, fetch_bool<Seq>, assign_bool<Seq>, resize<Seq>};
}

const ts::MessageMember kInnerFields[] = {
  scalar("value", ts::ROS_TYPE_INT16, offsetof(Inner, value)),
  scalar("label", ts::ROS_TYPE_STRING, offsetof(Inner, label)),
};
const rclcdds::MessageMembers kInnerMembers = {
  "rclcdds_test::msg", "Inner", 2, sizeof(Inner), kInnerFields, nullptr, nullptr};
const rosidl_message_type_support_t kInnerSupport = {"test", &kInnerMembers, nullptr};

const ts::MessageMember kAllFields[] = {
  scalar("flag", ts::ROS_TYPE_BOOLEAN, offsetof(AllKinds, flag)),
  scalar("letter", ts::ROS_TYPE_CHAR, offsetof(AllKinds, letter)),
  scalar("wide_letter", ts::ROS_TYPE_WCHAR, offsetof(AllKinds, wide_letter)),
  scalar("small", ts::ROS_TYPE_INT8, offsetof(AllKinds, small)),
  scalar("big", ts::ROS_TYPE_UINT64, offsetof(AllKinds, big)),
  scalar("bounded_text", ts::ROS_TYPE_STRING, offsetof(AllKinds, bounded_text), 5),
  scalar("wide_text", ts::ROS_TYPE_WSTRING, offsetof(AllKinds, wide_text)),
  array<std::array<bool, 3>>("flags", ts::ROS_TYPE_BOOLEAN, offsetof(AllKinds, flags), 3, false),
  array<std::array<std::string, 2>>("names", ts::ROS_TYPE_STRING, offsetof(AllKinds, names), 2, false),
  array<std::array<Inner, 2>>(
    "pair", ts::ROS_TYPE_MESSAGE, offsetof(AllKinds, pair), 2, false, &kInnerSupport),
  array<rosidl_runtime_cpp::BoundedVector<int32_t, 3>>(
    "bounded_ints", ts::ROS_TYPE_INT32, offsetof(AllKinds, bounded_ints), 3, true),
  bool_sequence<rosidl_runtime_cpp::BoundedVector<bool, 4>>(
    "bounded_flags", offsetof(AllKinds, bounded_flags), 4),
  array<rosidl_runtime_cpp::BoundedVector<Inner, 2>>(
    "bounded_inners", ts::ROS_TYPE_MESSAGE, offsetof(AllKinds, bounded_inners), 2, true,
    &kInnerSupport),
  bool_sequence<std::vector<bool>>("bits", offsetof(AllKinds, bits), 0),
  array<std::vector<std::string>>("words", ts::ROS_TYPE_STRING, offsetof(AllKinds, words), 0, false),
};
const rclcdds::MessageMembers kAllMembers = {
  "rclcdds_test::msg", "AllKinds", sizeof(kAllFields) / sizeof(kAllFields[0]), sizeof(AllKinds),
  kAllFields, nullptr, nullptr};

/// One value per field, in the order of AllKinds.
AllKinds sample()
{
  return AllKinds{true, 'Q', u'\u00e9', -3, 0x0102030405060708ull, "abcde", u"h\u00e9",
    {true, false, true}, {"", "two"}, {Inner{-1, "a"}, Inner{2, ""}}, {7, -7}, {false, true, true},
    {Inner{5, "five"}}, {true, true, false, true, false}, {"x", "", "zz"}};
}

/// Decodes `bytes` as AllKinds; false, with the reason in `error`, when refused.
bool decode(const std::vector<uint8_t> & bytes, std::string * error, AllKinds * out)
{
  return rclcdds::deserialize_message(kAllMembers, bytes.data(), bytes.size(), out, nullptr, error);
}

}  // namespace

TEST(CdrFieldKinds, EveryKindRoundTripsAndScalarsWideStringsAndFixedArraysMatchTheWire)
{
  const AllKinds original = sample();
  const std::vector<uint8_t> wire = rclcdds_test::encode(kAllMembers, &original);
  AllKinds decoded;
  std::string error;
  ASSERT_TRUE(decode(wire, &error, &decoded)) << error;
  EXPECT_TRUE(decoded == original);

  const auto head = rclcdds_test::hex(
    "00010000"
    "01 51 e900 fd 000000"         // flag, letter 'Q', wide_letter, small -3, padding to 8   0
    "08070605 04030201"            // big                                                    8
    "06000000 61626364 6500 0000"  // bounded_text "abcde", padding                         16
    "02000000 68000000 e9000000"   // wide_text: 2 units of 4 bytes                         28
    "010001 00"                    // flags (bool[3]), padding                              40
    "01000000 00 000000"           // names[0] "", padding                                  44
    "04000000 74776f00");          // names[1] "two"                                        52
  ASSERT_GE(wire.size(), head.size());
  EXPECT_EQ(std::vector<uint8_t>(wire.begin(), wire.begin() + head.size()), head);
}

TEST(CdrFieldKinds, BoundsAreEnforcedOnBothSides)
{
  AllKinds msg = sample();
  msg.bounded_text = "abcdef";
  rclcdds::SerializedMessage out;
  EXPECT_THROW(rclcdds::serialize_message(kAllMembers, &msg, out), rclcdds::SerializationError);

  // Hand-made payloads the writer cannot produce, a remote peer can.
  msg = sample();
  msg.bounded_ints = {1, 2, 3};
  const std::vector<uint8_t> wire = rclcdds_test::encode(kAllMembers, &msg);
  const std::vector<uint8_t> full_ints = {3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  const auto ints_at = std::search(wire.begin(), wire.end(), full_ints.begin(), full_ints.end());
  struct Case
  {
    const char * name;
    size_t at;
    uint8_t value;
    const char * reason;
  };
  const Case cases[] = {
    // Length word of bounded_text at 4 + 16: 6 characters + NUL, one over the bound of 5.
    {"string one over its bound", 4 + 16, 7, "bounded_text"},
    {"sequence one over its bound", static_cast<size_t>(ints_at - wire.begin()), 4,
      "exceeds its bound of 3"},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_LT(c.at, wire.size());
    std::vector<uint8_t> bytes = wire;
    bytes[c.at] = c.value;
    std::string error;
    EXPECT_FALSE(decode(bytes, &error, &msg));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}
