// Segmentation of a depth camera: the hand-off to the AI worker, the worker loop, and the filter
// that turns the model's raw instances into the frame's detections.
#include <chrono>
#include <cstdint>

#include <opencv2/core.hpp>

#include "camera/depth_camera.hpp"
#include "camera/detection_filter.hpp"
#include "common/logger.hpp"
#include "nimbra_model_zoo/yolov8_seg.hpp"

namespace nimbra
{

namespace
{

enum AiState : int32_t
{
  kAiIdle = 0,
  kAiRequested = 1,
  kAiDone = 2,
};

}  // namespace

void DepthCamera::aiThreadLoop(HandOff<AiThreadInputPara> * para)
{
  std::unique_lock<std::mutex> lock(para->mutex);
  for (;;) {
    para->cv.wait(lock, [this, para] {
        return ai_state_.load() == kAiRequested || para->stop.load();
      });
    if (para->stop.load()) {
      return;
    }
    // The lock stays held for the whole inference: a producer that arrives now waits for it.
    try {
      aiInference(para->record.image, para->record.result);
    } catch (const std::exception & e) {
      LOG_ERROR("cam_{0:d} inference failed, frame has no detections: {1:s}", cam_id, e.what());
      para->record.result.detections.clear();
    }
    ai_state_.store(kAiDone);
    para->cv.notify_all();
  }
}

void DepthCamera::aiInference(const cv::Mat & image, AiResult & result)
{
  const auto start = std::chrono::system_clock::now();
  if (image.empty() || !model_) {
    return;
  }
  std::vector<orvix::model::ModelDetection> raw;
  if (!model_->Infer(image, raw)) {
    LOG_ERROR("cam_{0:d} inference failed, frame has no detections: {1:s}", cam_id,
      model_->LastError());
    result.detections.clear();
    return;
  }
  LOG_DEBUG("cam_{0:d} ori detect bbox size = {1:d}", cam_id, raw.size());
  result.image = image;
  const std::vector<Detection> kept = filterModelDetections(cam_id, raw, *ai_config_);
  result.detections.insert(result.detections.end(), kept.begin(), kept.end());
  LOG_DEBUG("cam_{0:d} filtered detect bbox size = {1:d}", cam_id, result.detections.size());
  if (config_.debug) {
    const auto elapsed = std::chrono::system_clock::now() - start;
    LOG_DEBUG("cam_{0:d} :<ai_whole_process_duration> runtime = {1:d}(us)", cam_id,
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000);
  }
}

void DepthCamera::runSegmentation(const cv::Mat & rgb, AiResult & ai_result)
{
  const bool has_colour = paired_rgb_ != nullptr && !rgb.empty();
  const bool worker = ai_thread_.joinable();
  if (worker && has_colour) {
    std::lock_guard<std::mutex> lock(ai_para_.mutex);
    ai_state_.store(kAiIdle);
    ai_para_.record.result.detections.clear();
    ai_para_.record.image = rgb;
    ai_state_.store(kAiRequested);
    ai_para_.cv.notify_all();
  }
  if (has_colour && !config_.close_ai_detect && !fsm_close_ai_.load()) {
    LOG_DEBUG("cam_{0:d} run ai", cam_id);
    if (worker) {
      LOG_DEBUG("use ai thread");
      std::unique_lock<std::mutex> lock(ai_para_.mutex);
      while (ai_state_.load() != kAiDone && !ai_para_.stop.load()) {
        LOG_DEBUG("wait ai data arrives of cam_id={0:d}", cam_id);
        ai_para_.cv.wait(lock);
      }
      ai_result.image = ai_para_.record.result.image;
      ai_result.detections = ai_para_.record.result.detections;
      ai_result.time = ai_para_.record.result.time;
    } else {
      try {
        aiInference(rgb, ai_result);
      } catch (const std::exception & e) {
        LOG_ERROR("cam_{0:d} inference failed, frame has no detections: {1:s}", cam_id, e.what());
        ai_result.detections.clear();
      }
    }
    return;
  }
  if (config_.debug || config_.data_flow_trace) {
    LOG_DEBUG("cam_{0:d} abandon or close run ai", cam_id);
  }
  ai_result.detections.clear();
  ai_result.image = cv::Mat::zeros(depth_height_, depth_width_, CV_8UC3);
}

AiResult DepthCamera::segment(const cv::Mat & image)
{
  AiResult result;
  if (!ai_thread_.joinable()) {
    aiInference(image, result);
    return result;
  }
  {
    std::lock_guard<std::mutex> lock(ai_para_.mutex);
    ai_state_.store(kAiIdle);
    ai_para_.record.result.detections.clear();
    ai_para_.record.image = image;
    ai_state_.store(kAiRequested);
    ai_para_.cv.notify_all();
  }
  std::unique_lock<std::mutex> lock(ai_para_.mutex);
  ai_para_.cv.wait(lock, [this] {return ai_state_.load() == kAiDone || ai_para_.stop.load();});
  return ai_para_.record.result;
}

}  // namespace nimbra
