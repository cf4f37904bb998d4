#pragma once

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>
#include <yaml-cpp/yaml.h>

#include "nimbra_model_zoo/model_detection.hpp"
#include "nimbra_model_zoo/model_error.hpp"
#include "nimbra_model_zoo/yolov8_seg_config.hpp"

namespace orvix::model {

/// YOLOv8-seg instance segmentation of colour images on OpenCV DNN, from an ONNX export.
/// Create one per camera; Infer is serialised per instance, separate instances run in parallel.
class YOLOv8Seg {
 public:
  /// Load the model named by a parsed model description document and check its outputs with
  /// one inference on a grey image.
  /// @param description the whole description document (keys in YOLOv8SegConfig)
  /// @param description_file path of that document: a relative `model_file` is resolved against
  ///        its directory (against the working directory when empty); error messages name it
  /// @throws ModelError on a bad key, a missing or unreadable model file, an unavailable backend,
  ///         or outputs that are not the YOLOv8-seg layout
  explicit YOLOv8Seg(YAML::Node const& description,
                     std::string const& description_file = std::string());
  YOLOv8Seg(YOLOv8Seg const&) = delete;
  YOLOv8Seg& operator=(YOLOv8Seg const&) = delete;
  virtual ~YOLOv8Seg();

  /// Segment one image. Replaces the contents of `detections` with the instances, strongest first,
  /// boxes and masks in the image's pixels.
  /// @param image 8-bit colour image in RGB order (3 channels; 1 channel grey and 4 channels RGBA
  ///        are converted)
  /// @return false, with no detections and a reason in LastError(), for an empty or unsupported
  ///         image or a failed inference
  virtual bool Infer(cv::Mat const& image, std::vector<ModelDetection>& detections);

  /// Reason of the last failed Infer; empty after a successful one.
  std::string LastError() const;

  /// The settings read from the description, with `model_file` resolved.
  YOLOv8SegConfig const& Config() const;

  /// Number of classes the network scores.
  int ClassCount() const;

  /// Load a description file and build the model from it.
  /// @throws YAML::Exception when the file cannot be read or parsed, ModelError as the constructor
  static std::shared_ptr<YOLOv8Seg> FromFile(std::string const& description_file);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvix::model
