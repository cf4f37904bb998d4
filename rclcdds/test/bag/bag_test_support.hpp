// Helpers of the bag tests: temporary directories, a receiver of raw samples, bag contents.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bag_storage.hpp"
#include "bag_temp_dirs.hpp"
#include "rclcdds/raw_reader.hpp"
#include "rclcdds/serialization.hpp"

namespace rclcdds_bag_test
{

using SteadyClock = std::chrono::steady_clock;

struct Received
{
  SteadyClock::time_point when;
  std::vector<uint8_t> data;
};

/// Takes everything arriving on some topics on its own thread.
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
              while (reader->take([&](const uint8_t * data, size_t size, const rclcdds::SampleInfo &) {
                  std::lock_guard<std::mutex> lock(mutex_);
                  received_[name].push_back({SteadyClock::now(), std::vector<uint8_t>(data, data + size)});
                }))
              {
                any = true;
              }
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
  const auto bag = rclcdds_bag::open_bag_directory(dir);
  for (const auto & file : bag.files) {
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
