#include "common/semantic_type.hpp"

#include <ament_index_cpp/get_package_share_directory.hpp>

#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>

#include "common/logger.hpp"

namespace semantic
{
namespace
{

/// Largest network class id accepted in class_mapping; a larger key would make the class table
/// grow without bound (a key of 2^31 - 1 would ask for gigabytes).
constexpr int32_t kMaxClassId = 65535;

/// Integer in YAML 1.2 core syntax: [-+]?[0-9]+, 0o[0-7]+ or 0x[0-9a-fA-F]+. Leading zeros are
/// decimal ("07" is 7, "010" is 10).
std::optional<int64_t> ParseCoreInteger(std::string_view text)
{
  int base = 10;
  bool negative = false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'o' || text[1] == 'x')) {
    base = text[1] == 'o' ? 8 : 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text[0] == '+' || text[0] == '-') {
    return std::nullopt;
  }
  uint64_t magnitude = 0;
  const char * const last = text.data() + text.size();
  const auto [end, status] = std::from_chars(text.data(), last, magnitude, base);
  if (status != std::errc() || end != last ||
    magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
  {
    return std::nullopt;
  }
  const auto value = static_cast<int64_t>(magnitude);
  return negative ? -value : value;
}

/// Floating-point number in YAML 1.2 core syntax, including the spellings of infinity and
/// not-a-number; integers in core syntax are numbers as well.
std::optional<double> ParseCoreFloat(std::string_view text)
{
  static const std::string_view kPlusInfinity[] = {
    ".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"};
  static const std::string_view kMinusInfinity[] = {"-.inf", "-.Inf", "-.INF"};
  static const std::string_view kNotANumber[] = {".nan", ".NaN", ".NAN"};
  for (const auto spelling : kPlusInfinity) {
    if (text == spelling) {
      return std::numeric_limits<double>::infinity();
    }
  }
  for (const auto spelling : kMinusInfinity) {
    if (text == spelling) {
      return -std::numeric_limits<double>::infinity();
    }
  }
  for (const auto spelling : kNotANumber) {
    if (text == spelling) {
      return std::numeric_limits<double>::quiet_NaN();
    }
  }
  if (const auto integer = ParseCoreInteger(text)) {
    return static_cast<double>(*integer);
  }
  // [-+]? ( \. [0-9]+ | [0-9]+ ( \. [0-9]* )? ) ( [eE] [-+]? [0-9]+ )?
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
    digits.remove_prefix(1);
  }
  std::size_t pos = 0;
  const auto skip_digits = [&digits, &pos]() {
      const std::size_t start = pos;
      while (pos < digits.size() && std::isdigit(static_cast<unsigned char>(digits[pos]))) {
        ++pos;
      }
      return pos - start;
    };
  const std::size_t integer_digits = skip_digits();
  std::size_t fraction_digits = 0;
  if (pos < digits.size() && digits[pos] == '.') {
    ++pos;
    fraction_digits = skip_digits();
  }
  if (integer_digits == 0 && fraction_digits == 0) {
    return std::nullopt;
  }
  if (pos < digits.size() && (digits[pos] == 'e' || digits[pos] == 'E')) {
    ++pos;
    if (pos < digits.size() && (digits[pos] == '+' || digits[pos] == '-')) {
      ++pos;
    }
    if (skip_digits() == 0) {
      return std::nullopt;
    }
  }
  if (pos != digits.size()) {
    return std::nullopt;
  }
  double value = 0.0;
  const auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (status != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return text[0] == '-' ? -value : value;
}

/// Reads a node as a signed 32-bit integer; throws the YAML library's conversion errors.
int32_t ReadInt32(const YAML::Node & node)
{
  if (!node.IsScalar()) {
    throw YAML::TypedBadConversion<int32_t>(node.Mark());
  }
  const auto value = ParseCoreInteger(node.Scalar());
  if (!value || *value < std::numeric_limits<int32_t>::min() ||
    *value > std::numeric_limits<int32_t>::max())
  {
    throw YAML::TypedBadConversion<int32_t>(node.Mark());
  }
  return static_cast<int32_t>(*value);
}

/// Reads a node as a double; throws the YAML library's conversion errors.
double ReadDouble(const YAML::Node & node)
{
  if (!node.IsScalar()) {
    throw YAML::TypedBadConversion<double>(node.Mark());
  }
  const auto value = ParseCoreFloat(node.Scalar());
  if (!value) {
    throw YAML::TypedBadConversion<double>(node.Mark());
  }
  return *value;
}

/// Loads a YAML file; a parse error names the file, a directory counts as a missing file.
YAML::Node LoadYamlFile(const std::string & path)
{
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    throw YAML::BadFile(path);
  }
  try {
    return YAML::LoadFile(path);
  } catch (const YAML::ParserException & e) {
    throw YAML::ParserException(e.mark, path + ": " + e.msg);
  }
}

}  // namespace

bool ParseSemanticType(const std::string & name, SemanticType & value)
{
  std::string upper = name;
  for (char & c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const google::protobuf::EnumValueDescriptor * descriptor =
    SemanticType_descriptor()->FindValueByName(upper);
  if (descriptor == nullptr) {
    return false;
  }
  value = static_cast<SemanticType>(descriptor->number());
  return true;
}

std::string SemanticTypeName(int32_t value)
{
  const google::protobuf::EnumValueDescriptor * descriptor =
    SemanticType_descriptor()->FindValueByNumber(value);
  return descriptor == nullptr ? std::string() : descriptor->name();
}

AiConfig::AiConfig(
  const YAML::Node & meta_node, const YAML::Node & height_node, std::string & error)
{
  std::vector<std::string> messages;
  if (ParseClassMapping(meta_node, messages)) {
    ParseThresholds(meta_node, messages);
  }
  if (!messages.empty()) {
    error += "ParseFile Err: ";
    for (std::size_t i = 0; i < messages.size(); ++i) {
      error += (i == 0 ? "" : ", ") + messages[i];
    }
    error += ".";
  }
  ParseHeights(height_node);
}

bool AiConfig::ParseClassMapping(const YAML::Node & meta_node, std::vector<std::string> & messages)
{
  try {
    const YAML::Node mapping = meta_node["class_mapping"];
    if (!mapping.IsMap()) {
      messages.emplace_back("yaml node class_mapping is not a map");
      return false;
    }
    class_types.assign(mapping.size(), NO_TYPE);
    for (const auto & entry : mapping) {
      if (!entry.first.IsScalar() || !entry.second.IsScalar()) {
        messages.emplace_back("Non-scalar key or value found in class_mapping");
        continue;
      }
      SemanticType type = NO_TYPE;
      if (!ParseSemanticType(entry.second.Scalar(), type)) {
        messages.push_back("value " + entry.second.Scalar() + " cannot parse into SemanticType");
        continue;
      }
      const int32_t id = ReadInt32(entry.first);
      const std::string key = "key " + std::to_string(id);
      if (id < 0) {
        messages.push_back(key + " is smaller than 0, ignore");
        continue;
      }
      if (id > kMaxClassId) {
        messages.push_back(key + " is larger than " + std::to_string(kMaxClassId) + ", ignore");
        continue;
      }
      const auto index = static_cast<std::size_t>(id);
      if (index >= class_types.size()) {
        messages.push_back(
          key + " is larger than map size, means the keys are not a continuous sequence");
        class_types.resize(index + 1, NO_TYPE);
      }
      if (class_types[index] != NO_TYPE) {
        messages.push_back(key + " repeat, ignore old value");
      }
      class_types[index] = type;
    }
  } catch (const std::exception & e) {
    messages.push_back(std::string("Failed to parse class_mapping, ") + e.what());
  }
  return true;
}

void AiConfig::ParseThresholds(const YAML::Node & meta_node, std::vector<std::string> & messages)
{
  static const std::string kFailure = "Failed to parse default_confidence_threshold, ";
  double default_threshold = 0.5;
  try {
    default_threshold = ReadDouble(meta_node["default_confidence_threshold"]);
  } catch (const std::exception & e) {
    messages.push_back(kFailure + e.what());
    default_threshold = 0.5;
  }
  confidence_thresholds.assign(class_types.size(), default_threshold);

  try {
    const YAML::Node thresholds = meta_node["confidence_threshold"];
    if (!thresholds.IsMap()) {
      messages.emplace_back("yaml node confidence_threshold is not a map");
      return;
    }
    for (const auto & entry : thresholds) {
      if (!entry.first.IsScalar() || !entry.second.IsScalar()) {
        messages.emplace_back("Non-scalar key or value found in confidence_threshold");
        continue;
      }
      const int32_t id = ReadInt32(entry.first);
      const std::string key = "key " + std::to_string(id);
      if (id < 0) {
        messages.push_back(key + " is smaller than 0, ignore");
        continue;
      }
      const auto index = static_cast<std::size_t>(id);
      if (index >= confidence_thresholds.size()) {
        messages.push_back(key + " is larger than map size");
        continue;
      }
      confidence_thresholds[index] = ReadDouble(entry.second);
    }
  } catch (const std::exception & e) {
    messages.push_back(kFailure + e.what());
  }
}

void AiConfig::ParseHeights(const YAML::Node & height_node)
{
  if (!height_node.IsDefined()) {
    return;
  }
  try {
    for (const auto & entry : height_node) {
      const YAML::Node & key = entry.first;
      const YAML::Node & value = entry.second;
      if (!key.IsDefined() || !key.IsScalar() || !value.IsDefined() || !value.IsSequence()) {
        continue;
      }
      SemanticType type = NO_TYPE;
      if (!ParseSemanticType(key.Scalar(), type)) {
        LOG_WARN(
          "AiConfig: height_yaml_node get key {0:s} cannot parse into SemanticType", key.Scalar());
        continue;
      }
      std::vector<double> heights;
      for (const auto & element : value) {
        heights.push_back(ReadDouble(element));
      }
      // The entry exists from here on; a list shorter than two ends the reading before it is set.
      std::pair<double, double> & range = height_ranges[type];
      range = {heights.at(0), heights.at(1)};
    }
  } catch (const std::exception &) {
    // A malformed height entry ends the reading; the entries read so far are kept.
  }
}

YAML::Node LoadModelMetaFile(const std::string & path)
{
  return LoadYamlFile(path);
}

std::string ModelHeightFilePath(const std::string & file_name)
{
  return ament_index_cpp::get_package_share_directory("nimbra_object_detect") + "/config/" +
         file_name;
}

YAML::Node LoadModelHeightFile(const std::string & file_name)
{
  return LoadYamlFile(ModelHeightFilePath(file_name));
}

std::shared_ptr<AiConfig> CreateAiConfig(
  int32_t camera_id, const YAML::Node & meta_node, const YAML::Node & height_node)
{
  std::string error;
  auto config = std::make_shared<AiConfig>(meta_node, height_node, error);
  if (!error.empty()) {
    LOG_ERROR("cam_{0:d} init AiConfig get error: {1:s}", camera_id, error);
  }
  for (std::size_t i = 0; i < config->class_types.size(); ++i) {
    const double threshold =
      i < config->confidence_thresholds.size() ? config->confidence_thresholds[i] : 0.0;
    LOG_INFO(
      "cam_{0:d} ai_conf_.parser label {1:d}, type {2:s}, thresh {3:05.4f}.", camera_id, i,
      SemanticTypeName(config->class_types[i]), threshold);
  }
  for (const auto & [type, range] : config->height_ranges) {
    LOG_INFO(
      "cam_{0:d} ai_conf_.map type {1:d}, min {2:05.4f}, max {3:05.4f}.", camera_id,
      static_cast<int32_t>(type), range.first, range.second);
  }
  return config;
}

bool IsYolov8SegModel(const YAML::Node & meta_node)
{
  if (!meta_node.IsMap()) {
    return false;
  }
  const YAML::Node name = meta_node["model_name"];
  return name.IsDefined() && name.IsScalar() && name.Scalar() == kYolov8SegModelName;
}

}  // namespace semantic
