// Render time of one camera frame of the demo corridor (depth + colour), by image size.
//   build/nimbra_demo_scene/renderer_benchmark
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"

namespace
{

void BM_RenderDemoFrame(benchmark::State & state)
{
  using nimbra_demo_scene::CameraIntrinsics;
  const auto width = static_cast<uint32_t>(state.range(0));
  const auto height = static_cast<uint32_t>(state.range(1));
  const int camera = static_cast<int>(state.range(2));
  nimbra_demo_scene::DemoWorld world(nimbra_demo_scene::DemoWorld::Params{});
  nimbra_demo_scene::DepthRenderer renderer(
    CameraIntrinsics::fromHorizontalFov(width, height, 80.0 * M_PI / 180.0),
    nimbra_demo_scene::DepthRenderer::Params{});
  const auto mount = nimbra_demo_scene::CameraMount::demoMount(camera);
  std::vector<uint8_t> depth;
  std::vector<uint8_t> rgb;
  uint64_t frame = 0;
  for (auto _ : state) {
    // Step through the loop so turns and the person are part of the average.
    const double t = static_cast<double>(frame % 700) / 10.0;
    const auto & scene = world.sceneAt(t);
    renderer.render(scene, world.mapToBase(t) * mount.baseToOptical(), frame, depth, rgb);
    benchmark::DoNotOptimize(depth.data());
    benchmark::DoNotOptimize(rgb.data());
    ++frame;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * width * height);
}

}  // namespace

BENCHMARK(BM_RenderDemoFrame)
->Args({640, 480, 1})->Args({640, 480, 2})->Args({320, 240, 1})
->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
