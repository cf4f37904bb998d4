// Semantic vocabulary (`semantic::SemanticType`, generated from semantic/semantic_type.proto), its
// case-insensitive name conversion, and the per-camera AI configuration `semantic::AiConfig`.
#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "semantic/semantic_type.pb.h"

namespace semantic
{

/// @brief Converts a class name, in any letter case, to its value.
/// @return false, leaving `value` untouched, when the name is not in the enum.
bool ParseSemanticType(const std::string & name, SemanticType & value);

/// @brief Name of a value as written in the enum; empty for a value that is not in the enum.
std::string SemanticTypeName(int32_t value);

/// Per-camera AI configuration: class id -> semantic class and threshold; height band per class.
struct AiConfig
{
  /// @brief Builds the record from the model description and height documents. Content problems
  /// never throw: class-mapping and threshold problems are appended to `error` ("ParseFile Err: "
  /// first, ", " between messages, "." at the end); unreadable height keys are logged at WARN.
  AiConfig(const YAML::Node & meta_node, const YAML::Node & height_node, std::string & error);

  /// Semantic class per network class id; ids no mapping names hold NO_TYPE.
  std::vector<SemanticType> class_types;
  /// Minimum score per network class id, [score units of the network, normally 0..1].
  std::vector<double> confidence_thresholds;
  /// Height band {min, max} per class, [m]; a lookup of a missing type inserts {0, 0}.
  std::map<SemanticType, std::pair<double, double>> height_ranges;

private:
  /// @return false when class_mapping is not a map (the thresholds are then not read).
  bool ParseClassMapping(const YAML::Node & meta_node, std::vector<std::string> & messages);
  void ParseThresholds(const YAML::Node & meta_node, std::vector<std::string> & messages);
  void ParseHeights(const YAML::Node & height_node);
};

/// Value of `model_name` that selects the segmentation model.
inline constexpr const char * kYolov8SegModelName = "yolov8_seg";

/// @brief Loads the model description file, the path used unchanged.
/// @throws YAML::BadFile when it cannot be opened, YAML::ParserException (naming the path) when
/// it is not valid YAML.
YAML::Node LoadModelMetaFile(const std::string & path);

/// @brief Path of a height file: share directory of nimbra_object_detect + "/config/" + name.
/// @throws ament_index_cpp::PackageNotFoundError when the package is not on AMENT_PREFIX_PATH.
std::string ModelHeightFilePath(const std::string & file_name);

/// @brief Loads the height file `file_name` from the package's config directory.
/// @throws as LoadModelMetaFile and ModelHeightFilePath.
YAML::Node LoadModelHeightFile(const std::string & file_name);

/// @brief Builds the camera's AiConfig and logs it: one ERROR line with the error text when there
/// is one, then one INFO line per class id and one per height range.
std::shared_ptr<AiConfig> CreateAiConfig(
  int32_t camera_id, const YAML::Node & meta_node, const YAML::Node & height_node);

/// @brief True when `model_name` in the description is the scalar "yolov8_seg" (case-sensitive).
bool IsYolov8SegModel(const YAML::Node & meta_node);

}  // namespace semantic
