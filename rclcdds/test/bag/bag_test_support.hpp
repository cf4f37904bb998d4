// Helpers of the bag tests: temporary directories, decoding of payloads, a receiver of raw
// samples, bag contents.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../transport/cdr_test_helpers.hpp"
#include "../transport/child_process.hpp"
#include "bag_storage.hpp"
#include "rclcdds/raw_reader.hpp"

namespace rclcdds_bag_test
{

using rclcdds_test::temp_dir;

/// A payload decoded as T; a test failure when it does not decode.
template<class T>
T deserialize(const std::vector<uint8_t> & data)
{
  T message;
  std::string error;
  EXPECT_TRUE(rclcdds_test::decode(data, &error, &message)) << error;
  return message;
}

struct Received
{
  std::chrono::steady_clock::time_point when;
  std::vector<uint8_t> data;
};

/// Takes everything arriving on some topics (best effort, deep history) on its own thread.
class Receiver
{
public:
  Receiver(const rclcdds::Context::SharedPtr & context,
    const std::vector<std::pair<std::string, const rclcdds::MessageMembers *>> & topics)
  {
    for (const auto & [topic, members] : topics) {
      readers_.emplace_back(topic, std::make_unique<rclcdds::RawReader>(
          context, rclcdds::topic_endpoint_description(
            topic, *members, rclcdds::QoS(rclcdds::KeepLast(1000)).best_effort())));
    }
    thread_ = std::thread([this] {
          while (!stop_) {
            bool any = false;
            for (auto & [topic, reader] : readers_) {
              const std::string & name = topic;
              any = reader->take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_[name].push_back({std::chrono::steady_clock::now(),
                      std::vector<uint8_t>(data, data + size)});
                  }) || any;
            }
            if (!any) {
              std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
          }
        });
  }

  ~Receiver()
  {
    stop_ = true;
    thread_.join();
  }

  std::map<std::string, std::vector<Received>> received()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

private:
  std::vector<std::pair<std::string, std::unique_ptr<rclcdds::RawReader>>> readers_;
  std::mutex mutex_;
  std::map<std::string, std::vector<Received>> received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

/// Stored messages of a bag, per topic, in stored order.
inline std::map<std::string, std::vector<rclcdds_bag::BagMessage>> read_bag(const std::string & dir)
{
  std::map<std::string, std::vector<rclcdds_bag::BagMessage>> out;
  for (const auto & file : rclcdds_bag::open_bag_directory(dir).files) {
    auto reader = rclcdds_bag::storage_of_file(file) == "mcap" ?
      rclcdds_bag::open_mcap_reader(file) : rclcdds_bag::open_sqlite_reader(file);
    rclcdds_bag::BagMessage m;
    while (reader->next(m)) {
      out[reader->topics()[m.topic].name].push_back(m);
    }
  }
  return out;
}

}  // namespace rclcdds_bag_test
