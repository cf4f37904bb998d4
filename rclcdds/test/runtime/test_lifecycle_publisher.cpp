// Lifecycle publisher over a fake publisher: drops while inactive, warns once per inactive period.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/lifecycle/lifecycle_publisher.hpp"
#include "rclcdds/lifecycle/state_machine.hpp"

namespace
{

using Msg = std_msgs::msg::String;

/// Publisher stand-in recording what reaches the wire.
class FakePublisher
{
public:
  explicit FakePublisher(std::string topic) : topic_(std::move(topic)) {}
  virtual ~FakePublisher() = default;
  virtual void publish(const Msg & msg) {sent.push_back(msg.data);}
  virtual void publish(std::unique_ptr<Msg> msg) {sent.push_back(msg->data + " (owned)");}
  const char * get_topic_name() const {return topic_.c_str();}

  std::vector<std::string> sent;

private:
  std::string topic_;
};

using Publisher = rclcdds_lifecycle::LifecyclePublisher<Msg, FakePublisher>;

Msg text(const std::string & s)
{
  Msg m;
  m.data = s;
  return m;
}

TEST(LifecyclePublisher, DropsWhileInactiveAndWarnsOncePerPeriod)
{
  auto pub = std::make_shared<Publisher>("/detected_wastes");
  std::vector<std::string> warnings;
  pub->set_warning_sink([&](const std::string & w) {warnings.push_back(w);});

  pub->publish(text("a"));
  pub->publish(std::make_unique<Msg>(text("b")));
  FakePublisher & base = *pub;  // publishing through the base class is gated too
  base.publish(text("hidden"));
  EXPECT_TRUE(pub->sent.empty());
  EXPECT_EQ(pub->dropped_count(), 3u);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(
    warnings[0],
    "Trying to publish message on the topic '/detected_wastes', but the publisher is not activated");

  pub->on_activate();
  pub->publish(text("c"));
  pub->publish(std::make_unique<Msg>(text("d")));
  EXPECT_EQ(pub->sent, (std::vector<std::string>{"c", "d (owned)"}));

  pub->on_deactivate();
  pub->publish(text("e"));
  pub->publish(text("f"));
  EXPECT_EQ(pub->sent.size(), 2u);
  EXPECT_EQ(warnings.size(), 2u);  // one more warning for the new inactive period
}

TEST(LifecyclePublisher, ActivatedWithTheNode)
{
  rclcdds_lifecycle::LifecycleStateMachine machine;
  auto pub = std::make_shared<Publisher>("/detected_wastes");
  pub->set_warning_sink([](const std::string &) {});
  machine.add_managed_entity(pub);
  machine.configure();
  pub->publish(text("configured"));
  machine.activate();
  pub->publish(text("active"));
  machine.deactivate();
  pub->publish(text("inactive"));
  EXPECT_EQ(pub->sent, std::vector<std::string>{"active"});
}

}  // namespace
