// Fixture giving each test a fresh context (own DDS participant) and a helper to spin nodes.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "rclcdds/rclcdds.hpp"

namespace rclcdds_test
{

/// A context per test; nodes made with node_options() belong to it.
class NodeTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    context_ = std::make_shared<rclcdds::Context>();
    context_->init(0, nullptr);
  }

  void TearDown() override {context_->shutdown("test done");}

  rclcdds::NodeOptions node_options() const
  {
    rclcdds::NodeOptions options;
    options.context(context_);
    return options;
  }

  rclcdds::ExecutorOptions executor_options() const {return rclcdds::ExecutorOptions{context_};}

  /// Polls `condition` every 5 ms until it holds or `timeout` passes.
  static bool wait_until(
    const std::function<bool()> & condition,
    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  /// A topic name no other test (or concurrent test binary) uses.
  static std::string unique_name(const std::string & base)
  {
    return base + "_" + std::to_string(::getpid());
  }

  rclcdds::Context::SharedPtr context_;
};

/// Runs an executor on a thread for the scope's lifetime.
class SpinThread
{
public:
  explicit SpinThread(rclcdds::Executor & executor)
  : executor_(executor), thread_([this] {executor_.spin();}) {}
  ~SpinThread()
  {
    executor_.cancel();
    thread_.join();
  }

private:
  rclcdds::Executor & executor_;
  std::thread thread_;
};

}  // namespace rclcdds_test
