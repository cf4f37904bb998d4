// Transform lookups through a 3-link chain (map -> odom -> base_footprint -> camera).
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "rclcdds/tf2/buffer_core.hpp"

namespace
{

using rclcdds::tf2::BufferCore;
using rclcdds::tf2::TimePoint;

geometry_msgs::msg::TransformStamped make_link(
  const std::string & parent, const std::string & child, int64_t stamp_ns, double yaw)
{
  geometry_msgs::msg::TransformStamped t;
  t.header.frame_id = parent;
  t.child_frame_id = child;
  t.header.stamp = rclcdds::tf2::toMsg(TimePoint(std::chrono::nanoseconds(stamp_ns)));
  t.transform.translation.x = 0.5 + yaw;
  t.transform.translation.y = -0.2;
  t.transform.translation.z = 0.1;
  t.transform.rotation.z = std::sin(yaw / 2.0);
  t.transform.rotation.w = std::cos(yaw / 2.0);
  return t;
}

/// 10 s of 100 Hz history on each dynamic link, the camera mount static.
void fill(BufferCore & buffer)
{
  const int64_t start = 1000000000000LL;
  for (int i = 0; i < 1000; ++i) {
    const int64_t stamp = start + i * 10000000LL;
    buffer.setTransform(make_link("map", "odom", stamp, 0.001 * i), "bench");
    buffer.setTransform(make_link("odom", "base_footprint", stamp, 0.002 * i), "bench");
  }
  buffer.setTransform(make_link("base_footprint", "camera", 0, 0.3), "bench", true);
}

void BM_LookupChainInterpolated(benchmark::State & state)
{
  BufferCore buffer;
  fill(buffer);
  const TimePoint t(std::chrono::nanoseconds(1000000000000LL + 5005000000LL));  // between samples
  for (auto _ : state) {
    benchmark::DoNotOptimize(buffer.lookupTransform("map", "camera", t));
  }
}
BENCHMARK(BM_LookupChainInterpolated);

void BM_LookupChainLatest(benchmark::State & state)
{
  BufferCore buffer;
  fill(buffer);
  for (auto _ : state) {
    benchmark::DoNotOptimize(buffer.lookupTransform("map", "camera", rclcdds::tf2::TimePointZero));
  }
}
BENCHMARK(BM_LookupChainLatest);

void BM_LookupAcrossBranches(benchmark::State & state)
{
  BufferCore buffer;
  fill(buffer);
  const TimePoint t(std::chrono::nanoseconds(1000000000000LL + 5005000000LL));
  for (auto _ : state) {
    benchmark::DoNotOptimize(buffer.lookupTransform("camera", "odom", t));
  }
}
BENCHMARK(BM_LookupAcrossBranches);

}  // namespace

BENCHMARK_MAIN();
