// Publish/subscribe inside one process: the DDS path, malformed samples, raw endpoints and the
// node's entity registry (run inside scripts/netns.sh). The callback shapes are checked without
// DDS in test_any_subscription_callback.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <std_msgs/msg/string.hpp>

#include "rclcdds/executors.hpp"
#include "rclcdds/node_topics.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/raw_writer.hpp"

using namespace std::chrono_literals;

namespace
{

/// A context of its own per test (one participant each), shut down at the end.
class LocalPubSub : public ::testing::Test
{
protected:
  void SetUp() override
  {
    context_ = std::make_shared<rclcdds::Context>();
    context_->init(0, nullptr);
    node_ = std::make_shared<rclcdds::NodeTopics>("local_test", "/test", context_);
    executor_ = std::make_unique<rclcdds::executors::SingleThreadedExecutor>(
      rclcdds::ExecutorOptions{context_});
    executor_->add_node(node_);
  }

  void TearDown() override {context_->shutdown("test done");}

  /// Spins until `done` holds or `timeout` passes.
  template<class Pred>
  bool spin_until(Pred done, std::chrono::milliseconds timeout = 5000ms)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      executor_->spin_once(20ms);
    }
    return done();
  }

  rclcdds::Context::SharedPtr context_;
  rclcdds::NodeTopics::SharedPtr node_;
  std::unique_ptr<rclcdds::executors::SingleThreadedExecutor> executor_;
};

}  // namespace

TEST_F(LocalPubSub, MalformedSampleIsDroppedAndTheNextOneDelivered)
{
  std::vector<std::string> received;
  auto subscription = node_->create_subscription<std_msgs::msg::String>(
    "guarded", 10, [&](const std_msgs::msg::String & m) {received.push_back(m.data);});
  rclcdds::EndpointDescription description;
  description.topic_name = "rt/test/guarded";
  description.type_name = "std_msgs::msg::dds_::String_";
  rclcdds::RawWriter raw(context_, description);
  ASSERT_TRUE(spin_until([&] {return raw.matched_subscription_count() == 1;}));

  // Length 0x40 but only 4 bytes follow: truncated.
  const uint8_t bad[] = {0x00, 0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd'};
  rclcdds::SerializedMessage garbage;
  garbage.assign(bad, sizeof(bad));
  raw.write(std::move(garbage));
  std_msgs::msg::String good;
  good.data = "fine";
  rclcdds::SerializedMessage payload;
  rclcdds::Serialization<std_msgs::msg::String>().serialize_message(good, payload);
  raw.write(std::move(payload));

  ASSERT_TRUE(spin_until([&] {return !received.empty();}));
  EXPECT_EQ(received, std::vector<std::string>{"fine"});
  EXPECT_EQ(subscription->dropped_count(), 1u);
}

TEST_F(LocalPubSub, RawEndpointsCarryUserDataAndPayloads)
{
  rclcdds::EndpointDescription reply;
  reply.topic_name = "rr/test/local_test/get_stateReply";
  reply.type_name = "lifecycle_msgs::srv::dds_::GetState_Response_";
  reply.user_data = "clientid=01.02.03.04;";
  rclcdds::RawReader reader(context_, reply);
  reply.user_data = "serviceid=05.06;";
  rclcdds::RawWriter writer(context_, reply);
  ASSERT_TRUE(spin_until([&] {return writer.matched_subscription_count() == 1;}));

  const auto readers = writer.matched_subscriptions();
  ASSERT_EQ(readers.size(), 1u);
  EXPECT_EQ(readers[0].user_data, "clientid=01.02.03.04;");
  EXPECT_EQ(readers[0].guid, reader.guid());
  const auto writers = reader.matched_publications();
  ASSERT_EQ(writers.size(), 1u);
  EXPECT_EQ(writers[0].user_data, "serviceid=05.06;");

  const uint8_t bytes[] = {0x00, 0x01, 0x00, 0x00, 1, 2, 3, 4};
  rclcdds::SerializedMessage payload;
  payload.assign(bytes, sizeof(bytes));
  writer.write(std::move(payload));
  std::vector<uint8_t> seen;
  spin_until([&] {
      reader.take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
          seen.assign(data, data + size);
        });
      return !seen.empty();
    });
  EXPECT_EQ(seen, std::vector<uint8_t>(bytes, bytes + sizeof(bytes)));
  const rclcdds::Gid gid = reader.gid();
  const rclcdds::Guid guid = reader.guid();
  EXPECT_TRUE(std::equal(guid.begin(), guid.end(), gid.begin()));
  EXPECT_TRUE(std::all_of(gid.begin() + 16, gid.end(), [](uint8_t b) {return b == 0;}));
}

TEST_F(LocalPubSub, NodeTracksReaderAndWriterGids)
{
  int changes = 0;
  node_->get_node_entities()->set_listener([&changes] {++changes;});
  auto publisher = node_->create_publisher<std_msgs::msg::String>("gids", 10);
  auto subscription = node_->create_subscription<std_msgs::msg::String>(
    "gids", 10, [](const std_msgs::msg::String &) {});
  EXPECT_EQ(node_->get_node_entities()->writer_gids(), std::vector<rclcdds::Gid>{publisher->get_gid()});
  EXPECT_EQ(node_->get_node_entities()->reader_gids(), std::vector<rclcdds::Gid>{subscription->get_gid()});
  EXPECT_EQ(node_->get_subscriptions().size(), 1u);
  subscription.reset();
  publisher.reset();
  EXPECT_TRUE(node_->get_node_entities()->reader_gids().empty());
  EXPECT_TRUE(node_->get_node_entities()->writer_gids().empty());
  EXPECT_TRUE(node_->get_subscriptions().empty());
  EXPECT_EQ(changes, 4);
}

TEST_F(LocalPubSub, PublishAfterShutdownIsSilentlyIgnored)
{
  auto publisher = node_->create_publisher<std_msgs::msg::String>("late", 10);
  context_->shutdown("early");
  EXPECT_NO_THROW(publisher->publish(std_msgs::msg::String()));
}
