// Post-processing, pre-processing and full-inference figures of YOLOv8Seg.
//   benchmark_yolov8_seg [--benchmark_filter=...]
// The inference benchmark loads the YOLOv8n-seg network with random weights written by the
// package's generator at build time (NIMBRA_BENCHMARK_MODEL overrides its path).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "nimbra_model_zoo/segmentation_decoder.hpp"
#include "nimbra_model_zoo/yolov8_seg.hpp"

namespace {

using orvix::model::DecoderParams;
using orvix::model::Letterbox;
using orvix::model::ModelDetection;
using orvix::model::SegmentationDecoder;

constexpr int kClasses = 80;
constexpr int kMaskChannels = 32;
constexpr int kAnchors = 8400;  // 80x80 + 40x40 + 20x20 cells of a 640x640 input
constexpr int kAnchorsPerObject = 10;

/// Raw outputs of a 640x640 YOLOv8-seg network with `objects` separate objects, each seen by
/// several anchors with slightly different boxes (as a trained network fires), the rest background.
struct SyntheticOutputs {
  explicit SyntheticOutputs(int objects) {
    int const predictions_shape[] = {1, 4 + kClasses + kMaskChannels, kAnchors};
    predictions.create(3, predictions_shape, CV_32F);
    int const prototypes_shape[] = {1, kMaskChannels, 160, 160};
    prototypes.create(4, prototypes_shape, CV_32F);
    cv::RNG cv_rng(20);
    cv_rng.fill(prototypes, cv::RNG::NORMAL, 0.0, 1.0);

    std::mt19937 rng(20);
    std::uniform_real_distribution<float> unit(0.0F, 1.0F);
    float* const p = predictions.ptr<float>();
    auto at = [p](int row, int anchor) -> float& { return p[row * kAnchors + anchor]; };
    for (int a = 0; a < kAnchors; ++a) {
      at(0, a) = 20.0F + 600.0F * unit(rng);
      at(1, a) = 100.0F + 440.0F * unit(rng);
      at(2, a) = 10.0F + 100.0F * unit(rng);
      at(3, a) = 10.0F + 100.0F * unit(rng);
      for (int c = 0; c < kClasses; ++c) {
        at(4 + c, a) = 0.1F * unit(rng);
      }
      for (int k = 0; k < kMaskChannels; ++k) {
        at(4 + kClasses + k, a) = 2.0F * unit(rng) - 1.0F;
      }
    }
    // Objects on a 5x4 grid over the image area (input y 80..560), 40 to 120 px wide.
    for (int o = 0; o < objects; ++o) {
      float const cx = 64.0F + 128.0F * static_cast<float>(o % 5);
      float const cy = 140.0F + 120.0F * static_cast<float>((o / 5) % 4);
      float const w = 40.0F + 80.0F * unit(rng);
      float const h = 40.0F + 70.0F * unit(rng);
      for (int j = 0; j < kAnchorsPerObject; ++j) {
        int const a = (o * kAnchorsPerObject + j) * 37 % kAnchors;
        at(0, a) = cx + 2.0F * unit(rng);
        at(1, a) = cy + 2.0F * unit(rng);
        at(2, a) = w + 4.0F * unit(rng);
        at(3, a) = h + 4.0F * unit(rng);
        at(4 + o % kClasses, a) = 0.5F + 0.4F * unit(rng);
      }
    }
  }

  cv::Mat predictions;
  cv::Mat prototypes;
};

void BM_PostprocessInstances(benchmark::State& state) {
  cv::setNumThreads(1);
  int const objects = static_cast<int>(state.range(0));
  SyntheticOutputs const outputs(objects);
  Letterbox const letterbox(cv::Size(640, 480), cv::Size(640, 640));
  SegmentationDecoder decoder{DecoderParams()};
  std::vector<ModelDetection> detections;
  for (auto _ : state) {
    decoder.Decode(outputs.predictions, outputs.prototypes, letterbox, detections);
    benchmark::DoNotOptimize(detections.data());
  }
  state.counters["instances"] = static_cast<double>(detections.size());
  long mask_pixels = 0;
  for (ModelDetection const& d : detections) {
    mask_pixels += static_cast<long>(d.width * d.height);
  }
  state.counters["box_pixels"] = static_cast<double>(mask_pixels);
}
BENCHMARK(BM_PostprocessInstances)->Arg(0)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_Letterbox(benchmark::State& state) {
  cv::setNumThreads(1);
  cv::Size const image_size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  cv::Mat image(image_size, CV_8UC3);
  cv::RNG(3).fill(image, cv::RNG::UNIFORM, 0, 256);
  Letterbox const letterbox(image_size, cv::Size(640, 640));
  cv::Mat blob;
  cv::Mat padded;
  for (auto _ : state) {
    letterbox.MakeBlob(image, blob, padded);
    benchmark::DoNotOptimize(blob.data);
  }
}
BENCHMARK(BM_Letterbox)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);

std::string BenchmarkModel() {
  char const* const from_env = std::getenv("NIMBRA_BENCHMARK_MODEL");
  return from_env != nullptr ? from_env : BENCHMARK_MODEL;
}

/// Whole Infer (letterbox, network, post-processing) of the YOLOv8n-seg architecture with random
/// weights on a 640x480 image; range(0) = OpenCV threads (0: OpenCV's default).
void BM_InferYolov8nSeg(benchmark::State& state) {
  std::string const path = BenchmarkModel();
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(("no model at " + path).c_str());
    return;
  }
  int const threads = static_cast<int>(state.range(0));
  cv::setNumThreads(threads == 0 ? -1 : threads);
  YAML::Node description;
  description["model_file"] = path;
  orvix::model::YOLOv8Seg model(description);
  cv::Mat image(480, 640, CV_8UC3);
  cv::RNG(4).fill(image, cv::RNG::UNIFORM, 0, 256);
  std::vector<ModelDetection> detections;
  for (auto _ : state) {
    model.Infer(image, detections);
    benchmark::DoNotOptimize(detections.data());
  }
  state.counters["threads"] = cv::getNumThreads();
  state.counters["instances"] = static_cast<double>(detections.size());
}
BENCHMARK(BM_InferYolov8nSeg)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->MinTime(3.0);

/// Whole Infer of the demo world's segmentation model (hand-set weights, 640x640 input, one
/// OpenCV thread) on a 640x480 frame with one coloured block per object it knows.
void BM_InferDemoModel(benchmark::State& state) {
  if (!std::filesystem::exists(DEMO_MODEL) || !std::filesystem::exists(DEMO_IMAGE)) {
    state.SkipWithError("demo model not generated (no tools/nimbra_demo_scene in the tree)");
    return;
  }
  cv::setNumThreads(1);
  YAML::Node description;
  description["model_file"] = DEMO_MODEL;
  orvix::model::YOLOv8Seg model(description);
  cv::Mat image;
  cv::cvtColor(cv::imread(DEMO_IMAGE, cv::IMREAD_COLOR), image, cv::COLOR_BGR2RGB);
  std::vector<ModelDetection> detections;
  for (auto _ : state) {
    model.Infer(image, detections);
    benchmark::DoNotOptimize(detections.data());
  }
  state.counters["threads"] = cv::getNumThreads();
  state.counters["instances"] = static_cast<double>(detections.size());
}
BENCHMARK(BM_InferDemoModel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
