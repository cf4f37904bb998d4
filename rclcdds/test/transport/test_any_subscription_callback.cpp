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

  rclcdds::AnySubscriptionCallback<String>([&](const String & m) {seen = &m;})
  .dispatch(make("a", &sent), info);
  EXPECT_EQ(seen, sent);

  rclcdds::AnySubscriptionCallback<String>([&](String::ConstSharedPtr m) {seen = m.get();})
  .dispatch(make("b", &sent), info);
  EXPECT_EQ(seen, sent);

  rclcdds::AnySubscriptionCallback<String>([&](String::SharedPtr m) {seen = m.get();})
  .dispatch(make("c", &sent), info);
  EXPECT_EQ(seen, sent);

  rclcdds::AnySubscriptionCallback<String>([&](String::UniquePtr m) {seen = m.get();})
  .dispatch(make("d", &sent), info);
  EXPECT_EQ(seen, sent);

  int64_t stamp = 0;
  rclcdds::AnySubscriptionCallback<String>(
    [&](const String & m, const rclcdds::MessageInfo & i) {seen = &m; stamp = i.source_timestamp_ns;})
  .dispatch(make("e", &sent), info);
  EXPECT_EQ(seen, sent);
  EXPECT_EQ(stamp, 77);
}

TEST(AnySubscriptionCallback, BoundMemberFunctionsWork)
{
  Receiver receiver;
  const String * sent = nullptr;
  rclcdds::AnySubscriptionCallback<String>(
    std::bind(&Receiver::on_shared, &receiver, std::placeholders::_1))
  .dispatch(make("bound", &sent), rclcdds::MessageInfo());
  EXPECT_EQ(receiver.last, "bound");
  EXPECT_EQ(receiver.address, sent);
}
