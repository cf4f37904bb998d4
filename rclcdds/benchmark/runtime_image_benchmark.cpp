// Image message -> cv::Mat conversion of a 640x480 16UC1 depth image against a plain memcpy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "rclcdds/conversions/cv_bridge.hpp"

namespace
{

sensor_msgs::msg::Image make_depth_image()
{
  sensor_msgs::msg::Image msg;
  msg.header.frame_id = "camera_depth_optical_frame";
  msg.width = 640;
  msg.height = 480;
  msg.encoding = "16UC1";
  msg.step = msg.width * 2;
  msg.data.resize(static_cast<size_t>(msg.step) * msg.height);
  std::mt19937 rng(7);
  for (auto & b : msg.data) {
    b = static_cast<uint8_t>(rng());
  }
  return msg;
}

/// Baseline: one memcpy of the pixels into a buffer allocated beforehand.
void BM_Memcpy640x480x16(benchmark::State & state)
{
  const auto msg = make_depth_image();
  std::unique_ptr<uint8_t[]> copy(new uint8_t[msg.data.size()]);
  for (auto _ : state) {
    std::memcpy(copy.get(), msg.data.data(), msg.data.size());
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.data.size()));
}
BENCHMARK(BM_Memcpy640x480x16);

/// Baseline with the allocation a copy needs: new[] (no zero fill) plus memcpy.
void BM_AllocAndMemcpy640x480x16(benchmark::State & state)
{
  const auto msg = make_depth_image();
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[msg.data.size()]);
    std::memcpy(copy.get(), msg.data.data(), msg.data.size());
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.data.size()));
}
BENCHMARK(BM_AllocAndMemcpy640x480x16);

void BM_ToCvCopy16UC1(benchmark::State & state)
{
  const auto msg = make_depth_image();
  for (auto _ : state) {
    auto image = rclcdds::cv_bridge::toCvCopy(msg);
    benchmark::DoNotOptimize(image->image.data);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * msg.data.size()));
}
BENCHMARK(BM_ToCvCopy16UC1);

void BM_ToCvShare16UC1(benchmark::State & state)
{
  const auto msg = std::make_shared<const sensor_msgs::msg::Image>(make_depth_image());
  for (auto _ : state) {
    auto image = rclcdds::cv_bridge::toCvShare(msg);
    benchmark::DoNotOptimize(image->image.data);
  }
}
BENCHMARK(BM_ToCvShare16UC1);

void BM_ToCvCopy16UC1To32FC1(benchmark::State & state)
{
  const auto msg = make_depth_image();
  for (auto _ : state) {
    auto image = rclcdds::cv_bridge::toCvCopy(msg, "32FC1");
    benchmark::DoNotOptimize(image->image.data);
  }
}
BENCHMARK(BM_ToCvCopy16UC1To32FC1);

void BM_ToImageMsg16UC1(benchmark::State & state)
{
  const auto image = rclcdds::cv_bridge::toCvCopy(make_depth_image());
  for (auto _ : state) {
    sensor_msgs::msg::Image out;
    image->toImageMsg(out);
    benchmark::DoNotOptimize(out.data.data());
  }
}
BENCHMARK(BM_ToImageMsg16UC1);

}  // namespace

BENCHMARK_MAIN();
