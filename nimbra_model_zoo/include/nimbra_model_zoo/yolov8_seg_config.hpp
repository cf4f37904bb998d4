#pragma once

#include <string>

#include <yaml-cpp/yaml.h>

namespace orvix::model {

/// Settings of a YOLOv8Seg model, read from the keys of its model description file.
struct YOLOv8SegConfig {
  std::string model_file;         ///< ONNX file, resolved against the description file's directory
  int input_width{640};           ///< network input width, pixels
  int input_height{640};          ///< network input height, pixels
  float score_threshold{0.25F};   ///< lowest class score kept, 0 to 1
  float nms_threshold{0.45F};     ///< IoU above which a weaker box of the same class is dropped, 0 to 1
  float mask_threshold{0.5F};     ///< mask probability above which a pixel is on the instance, 0 to 1
  int max_detections{100};        ///< most instances returned per image
  std::string backend{"opencv"};  ///< OpenCV DNN backend: "opencv" or "cuda"
  std::string target{"cpu"};      ///< OpenCV DNN target: "cpu", "cuda" or "cuda_fp16"

  /// Read the model keys of a parsed description document.
  /// @param description_file path of the document; its directory resolves a relative `model_file`
  ///        (the working directory when empty) and error messages name it.
  /// @throws ModelError naming the file, the key and the expected type when a key is missing or bad.
  static YOLOv8SegConfig FromYaml(YAML::Node const& description,
                                  std::string const& description_file = std::string());
};

}  // namespace orvix::model
