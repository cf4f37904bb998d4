#include "nimbra_model_zoo/yolov8_seg_config.hpp"

#include <cmath>
#include <filesystem>
#include <limits>
#include <vector>

#include "nimbra_model_zoo/model_error.hpp"

namespace orvix::model {
namespace {

constexpr int kMaxInputSide = 8192;
constexpr int kMaxDetections = 10000;

/// Reads and checks the model keys of one description document.
class KeyReader {
 public:
  KeyReader(YAML::Node const& document, std::string const& file) : document_(document) {
    where_ = file.empty() ? std::string("model description")
                          : "model description file '" + file + "'";
  }

  [[noreturn]] void Fail(std::string const& key, std::string const& problem) const {
    throw ModelError(where_ + ": key '" + key + "' " + problem);
  }

  bool Has(std::string const& key) const {
    YAML::Node const node = document_[key];
    return node.IsDefined() && !node.IsNull();
  }

  /// Scalar text of `key`; the key must be present.
  std::string Scalar(std::string const& key, std::string const& expected) const {
    YAML::Node const node = document_[key];
    if (!node.IsDefined() || node.IsNull()) {
      Fail(key, "is missing; expected " + expected);
    }
    if (!node.IsScalar()) {
      Fail(key, "is not a scalar; expected " + expected);
    }
    return node.Scalar();
  }

  int Integer(std::string const& key, int fallback, int min, int max) const {
    if (!Has(key)) {
      return fallback;
    }
    std::string const expected =
        "an integer from " + std::to_string(min) + " to " + std::to_string(max);
    std::string const text = Scalar(key, expected);
    int value = 0;
    try {
      value = document_[key].as<int>();
    } catch (YAML::Exception const&) {
      Fail(key, "has value '" + text + "'; expected " + expected);
    }
    if (value < min || value > max) {
      Fail(key, "has value " + std::to_string(value) + "; expected " + expected);
    }
    return value;
  }

  float Fraction(std::string const& key, float fallback) const {
    if (!Has(key)) {
      return fallback;
    }
    std::string const expected = "a number from 0 to 1";
    std::string const text = Scalar(key, expected);
    double value = std::numeric_limits<double>::quiet_NaN();
    try {
      value = document_[key].as<double>();
    } catch (YAML::Exception const&) {
      Fail(key, "has value '" + text + "'; expected " + expected);
    }
    if (!(value >= 0.0 && value <= 1.0)) {
      Fail(key, "has value '" + text + "'; expected " + expected);
    }
    return static_cast<float>(value);
  }

  std::string Choice(std::string const& key, std::string const& fallback,
                     std::vector<std::string> const& allowed, std::string const& context = "") const {
    std::string expected = "one of";
    for (std::size_t i = 0; i < allowed.size(); ++i) {
      expected += (i == 0 ? " \"" : ", \"") + allowed[i] + "\"";
    }
    expected += context;
    if (!Has(key)) {
      return fallback;
    }
    std::string const value = Scalar(key, expected);
    for (auto const& candidate : allowed) {
      if (value == candidate) {
        return value;
      }
    }
    Fail(key, "has value '" + value + "'; expected " + expected);
  }

  std::string const& Where() const { return where_; }

 private:
  YAML::Node const& document_;
  std::string where_;
};

std::string ResolveModelFile(std::string const& model_file, std::string const& description_file) {
  std::filesystem::path path(model_file);
  if (path.is_relative() && !description_file.empty()) {
    path = std::filesystem::path(description_file).parent_path() / path;
  }
  return path.lexically_normal().string();
}

}  // namespace

YOLOv8SegConfig YOLOv8SegConfig::FromYaml(YAML::Node const& description,
                                          std::string const& description_file) {
  KeyReader const keys(description, description_file);
  if (!description.IsMap()) {
    throw ModelError(keys.Where() + ": the document is not a map of keys");
  }

  YOLOv8SegConfig config;
  std::string const model_file = keys.Scalar("model_file", "the path of an ONNX file");
  if (model_file.empty()) {
    keys.Fail("model_file", "is empty; expected the path of an ONNX file");
  }
  config.model_file = ResolveModelFile(model_file, description_file);
  config.input_width = keys.Integer("input_width", config.input_width, 1, kMaxInputSide);
  config.input_height = keys.Integer("input_height", config.input_height, 1, kMaxInputSide);
  config.score_threshold = keys.Fraction("score_threshold", config.score_threshold);
  config.nms_threshold = keys.Fraction("nms_threshold", config.nms_threshold);
  config.mask_threshold = keys.Fraction("mask_threshold", config.mask_threshold);
  config.max_detections = keys.Integer("max_detections", config.max_detections, 1, kMaxDetections);

  config.backend = keys.Choice("backend", config.backend, {"opencv", "cuda"});
  if (config.backend == "opencv") {
    config.target = keys.Choice("target", "cpu", {"cpu"}, " with backend \"opencv\"");
  } else {
    config.target = keys.Choice("target", "cuda", {"cuda", "cuda_fp16"}, " with backend \"cuda\"");
  }
  return config;
}

}  // namespace orvix::model
