// Every callback signature rclcpp accepts is recognised and receives the message without a copy.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/any_subscription_callback.hpp"

using std_msgs::msg::String;

namespace
{

/// Receiver with the member-function shapes used with std::bind in node code.
struct Receiver
{
  void on_shared(const String::SharedPtr msg) {last = msg->data; address = msg.get();}
  std::string last;
  const String * address{nullptr};
};

std::unique_ptr<String> make(const char * text, const String ** address)
{
  auto msg = std::make_unique<String>();
  msg->data = text;
  *address = msg.get();
  return msg;
}

}  // namespace

TEST(AnySubscriptionCallback, EverySignatureGetsTheSameObject)
{
  const String * sent = nullptr;
  const String * seen = nullptr;
  rclcdds::MessageInfo info;
  info.source_timestamp_ns = 77;
  const auto expect_same_object = [&](auto callback) {
      seen = nullptr;
      rclcdds::AnySubscriptionCallback<String>(std::move(callback)).dispatch(make("m", &sent), info);
      EXPECT_EQ(seen, sent);
    };
  expect_same_object([&](const String & m) {seen = &m;});
  expect_same_object([&](String::ConstSharedPtr m) {seen = m.get();});
  expect_same_object([&](String::SharedPtr m) {seen = m.get();});
  expect_same_object([&](String::UniquePtr m) {seen = m.get();});
  int64_t stamp = 0;
  expect_same_object(
    [&](const String & m, const rclcdds::MessageInfo & i) {seen = &m; stamp = i.source_timestamp_ns;});
  EXPECT_EQ(stamp, 77);

  // A member function bound with std::bind, as node code does.
  Receiver receiver;
  rclcdds::AnySubscriptionCallback<String>(
    std::bind(&Receiver::on_shared, &receiver, std::placeholders::_1))
  .dispatch(make("bound", &sent), info);
  EXPECT_EQ(receiver.last, "bound");
  EXPECT_EQ(receiver.address, sent);
}
