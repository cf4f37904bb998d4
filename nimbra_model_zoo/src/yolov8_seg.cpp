#include "nimbra_model_zoo/yolov8_seg.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <utility>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "nimbra_model_zoo/letterbox.hpp"
#include "nimbra_model_zoo/segmentation_decoder.hpp"

namespace orvix::model {
namespace {

std::string ShapesText(std::vector<cv::Mat> const& outputs) {
  std::string text;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    text += (i == 0 ? "[" : ", [") + SegmentationDecoder::ShapeText(outputs[i]) + "]";
  }
  return text.empty() ? std::string("none") : text;
}

/// OpenCV's messages end in newlines; they are embedded in ours.
std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(" \n\r\t>") + 1);
  return text;
}

/// Finds the predictions (rank 3) and the prototypes (rank 4) among the network outputs.
bool PickOutputs(std::vector<cv::Mat> const& outputs, cv::Mat& predictions, cv::Mat& prototypes,
                 std::string* error) {
  predictions = cv::Mat();
  prototypes = cv::Mat();
  if (outputs.size() == 2) {
    for (cv::Mat const& output : outputs) {
      (output.dims == 3 ? predictions : prototypes) = output;
    }
  }
  if (predictions.empty() || prototypes.empty()) {
    *error = "outputs " + ShapesText(outputs) +
             "; expected two: predictions [1, 4 + classes + M, anchors] and prototypes"
             " [1, M, H/4, W/4] (M = 32 for YOLOv8-seg)";
    return false;
  }
  return SegmentationDecoder::CheckShapes(predictions, prototypes, error);
}

/// Appended when OpenCV parses the file but cannot build or run the network: the usual cause is
/// an Ultralytics export using operations that OpenCV 4.6 mishandles.
constexpr char const* kAdapterHint =
    "; if this is an Ultralytics YOLOv8-seg export, convert it with "
    "'/usr/bin/python3 adapt_yolov8_export.py EXPORT.onnx ADAPTED.onnx' (installed in "
    "lib/nimbra_model_zoo) and name the adapted file in 'model_file'";

int BackendId(std::string const& backend) {
  return backend == "cuda" ? cv::dnn::DNN_BACKEND_CUDA : cv::dnn::DNN_BACKEND_OPENCV;
}

int TargetId(std::string const& target) {
  if (target == "cuda") {
    return cv::dnn::DNN_TARGET_CUDA;
  }
  return target == "cuda_fp16" ? cv::dnn::DNN_TARGET_CUDA_FP16 : cv::dnn::DNN_TARGET_CPU;
}

}  // namespace

struct YOLOv8Seg::Impl {
  YOLOv8SegConfig config;
  std::string model_where;  ///< "model file '...'" for messages
  cv::dnn::Net net;
  std::vector<std::string> output_names;
  SegmentationDecoder decoder;
  int class_count{0};

  mutable std::mutex mutex;  ///< serialises Infer and guards the members below
  std::string last_error;
  cv::Mat rgb;
  cv::Mat padded;
  cv::Mat blob;
  std::vector<cv::Mat> outputs;

  void LoadNetwork(std::string const& description_file);
  void CheckOutputs();
  /// Letterbox, forward and decode an 8-bit RGB image.
  /// @param inference_failed set when OpenCV itself failed (rather than the output check)
  bool Run(cv::Mat const& image, std::vector<ModelDetection>& detections, std::string* error,
           bool* inference_failed = nullptr);
};

void YOLOv8Seg::Impl::LoadNetwork(std::string const& description_file) {
  std::string const& path = config.model_file;
  model_where = "model file '" + path + "'";
  if (!description_file.empty()) {
    model_where += " (key 'model_file' of '" + description_file + "')";
  }
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) {
    throw ModelError(model_where + " does not exist or is not a regular file");
  }
  if (!std::ifstream(path, std::ios::binary).good()) {
    throw ModelError(model_where + " cannot be opened for reading");
  }
  try {
    net = cv::dnn::readNetFromONNX(path);
  } catch (cv::Exception const& e) {
    // StsUnsupportedFormat: the file is not a parseable ONNX protobuf at all.
    bool const parsed = e.code != cv::Error::StsUnsupportedFormat;
    throw ModelError(model_where + " is not a loadable ONNX model: " + Trimmed(e.what()) +
                     (parsed ? kAdapterHint : ""));
  }
  if (net.empty()) {
    throw ModelError(model_where + " holds no network");
  }

  int const backend = BackendId(config.backend);
  int const target = TargetId(config.target);
  std::vector<cv::dnn::Target> const available = cv::dnn::getAvailableTargets(
      static_cast<cv::dnn::Backend>(backend));
  if (std::find(available.begin(), available.end(), target) == available.end()) {
    throw ModelError(model_where + ": backend \"" + config.backend + "\" with target \"" +
                     config.target + "\" is not available in this OpenCV build");
  }
  net.setPreferableBackend(backend);
  net.setPreferableTarget(target);
  output_names = net.getUnconnectedOutLayersNames();
}

void YOLOv8Seg::Impl::CheckOutputs() {
  cv::Size const input(config.input_width, config.input_height);
  cv::Mat const grey(input, CV_8UC3, cv::Scalar::all(Letterbox::kPadValue));
  std::vector<ModelDetection> detections;
  std::string error;
  bool inference_failed = false;
  if (!Run(grey, detections, &error, &inference_failed)) {
    throw ModelError(model_where + " on a " + std::to_string(input.width) + "x" +
                     std::to_string(input.height) + " input: " + error +
                     (inference_failed ? kAdapterHint : ""));
  }
  int const rows = outputs[0].dims == 3 ? outputs[0].size[1] : outputs[1].size[1];
  int const mask_channels = outputs[0].dims == 4 ? outputs[0].size[1] : outputs[1].size[1];
  class_count = rows - 4 - mask_channels;
}

bool YOLOv8Seg::Impl::Run(cv::Mat const& image, std::vector<ModelDetection>& detections,
                          std::string* error, bool* inference_failed) {
  Letterbox const letterbox(image.size(), cv::Size(config.input_width, config.input_height));
  letterbox.MakeBlob(image, blob, padded);
  try {
    net.setInput(blob);
    net.forward(outputs, output_names);
  } catch (cv::Exception const& e) {
    *error = "inference failed: " + Trimmed(e.what());
    if (inference_failed != nullptr) {
      *inference_failed = true;
    }
    return false;
  }
  cv::Mat predictions;
  cv::Mat prototypes;
  if (!PickOutputs(outputs, predictions, prototypes, error)) {
    return false;
  }
  return decoder.Decode(predictions, prototypes, letterbox, detections, error);
}

YOLOv8Seg::YOLOv8Seg(YAML::Node const& description, std::string const& description_file)
    : impl_(std::make_unique<Impl>()) {
  impl_->config = YOLOv8SegConfig::FromYaml(description, description_file);
  DecoderParams params;
  params.score_threshold = impl_->config.score_threshold;
  params.nms_threshold = impl_->config.nms_threshold;
  params.mask_threshold = impl_->config.mask_threshold;
  params.max_detections = impl_->config.max_detections;
  impl_->decoder = SegmentationDecoder(params);
  impl_->LoadNetwork(description_file);
  impl_->CheckOutputs();
}

YOLOv8Seg::~YOLOv8Seg() = default;

bool YOLOv8Seg::Infer(cv::Mat const& image, std::vector<ModelDetection>& detections) {
  std::lock_guard<std::mutex> const lock(impl_->mutex);
  detections.clear();
  impl_->last_error.clear();
  if (image.empty()) {
    impl_->last_error = "empty image";
    return false;
  }
  cv::Mat rgb;
  if (image.depth() == CV_8U && image.channels() == 3) {
    rgb = image;
  } else if (image.depth() == CV_8U && image.channels() == 1) {
    cv::cvtColor(image, impl_->rgb, cv::COLOR_GRAY2RGB);
    rgb = impl_->rgb;
  } else if (image.depth() == CV_8U && image.channels() == 4) {
    cv::cvtColor(image, impl_->rgb, cv::COLOR_RGBA2RGB);
    rgb = impl_->rgb;
  } else {
    impl_->last_error = "unsupported image type " + cv::typeToString(image.type()) +
                        "; expected 8-bit RGB (CV_8UC3)";
    return false;
  }
  if (!impl_->Run(rgb, detections, &impl_->last_error)) {
    detections.clear();
    return false;
  }
  return true;
}

std::string YOLOv8Seg::LastError() const {
  std::lock_guard<std::mutex> const lock(impl_->mutex);
  return impl_->last_error;
}

YOLOv8SegConfig const& YOLOv8Seg::Config() const { return impl_->config; }

int YOLOv8Seg::ClassCount() const { return impl_->class_count; }

std::shared_ptr<YOLOv8Seg> YOLOv8Seg::FromFile(std::string const& description_file) {
  return std::make_shared<YOLOv8Seg>(YAML::LoadFile(description_file), description_file);
}

}  // namespace orvix::model
