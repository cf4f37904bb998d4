#include "tracker/trash_tracker_config.hpp"

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <cstddef>

#include "common/logger.hpp"
#include "common/semantic_type.hpp"

namespace orvix
{
namespace perception
{

namespace
{

// Reads keys of one tracker file and reports problems with the file's path.
class ConfigReader
{
public:
  ConfigReader(const YAML::Node & root, const std::string & path)
  : root_(root), path_(path) {}

  double Number(const char * key) const
  {
    const YAML::Node node = Scalar(key, "a number");
    try {
      return node.as<double>();
    } catch (const YAML::Exception &) {
      Fail(key, "a number", "'" + node.Scalar() + "'");
    }
  }

  int32_t Integer(const char * key) const
  {
    const YAML::Node node = Scalar(key, "an integer");
    try {
      return node.as<int32_t>();
    } catch (const YAML::Exception &) {
      Fail(key, "an integer", "'" + node.Scalar() + "'");
    }
  }

  std::set<int32_t> ClassList(const char * key) const
  {
    const YAML::Node node = Present(key, "a sequence of class names");
    if (!node.IsSequence()) {
      Fail(key, "a sequence of class names", "a value that is not a sequence");
    }
    std::set<int32_t> classes;
    for (std::size_t i = 0; i < node.size(); ++i) {
      const YAML::Node element = node[i];
      if (element.IsNull()) {
        continue;
      }
      semantic::SemanticType type{};
      if (!element.IsScalar() || !semantic::ParseSemanticType(element.Scalar(), type)) {
        LOG_WARN(
          "Tracker configuration {}: entry {} of '{}' is not a class name, skipped.", path_, i,
          key);
        continue;
      }
      classes.insert(static_cast<int32_t>(type));
    }
    return classes;
  }

  std::array<float, 4> Footprint(const char * key) const
  {
    const char * expected = "a sequence of at least four numbers (min x, min y, max x, max y)";
    const YAML::Node node = Present(key, expected);
    if (!node.IsSequence() || node.size() < 4) {
      Fail(key, expected, node.IsSequence() ?
        std::to_string(node.size()) + " element(s)" : std::string("a value that is not a sequence"));
    }
    std::array<float, 4> box{};
    for (std::size_t i = 0; i < box.size(); ++i) {
      try {
        box[i] = static_cast<float>(node[i].as<double>());
      } catch (const YAML::Exception &) {
        Fail(key, expected, "element " + std::to_string(i) + " not a number");
      }
    }
    return box;
  }

  [[noreturn]] void Fail(const char * key, const std::string & expected, const std::string & got)
  const
  {
    throw TrackerConfigError(
            "tracker configuration '" + path_ + "': key '" + key + "' must be " + expected +
            ", got " + got);
  }

private:
  YAML::Node Present(const char * key, const char * expected) const
  {
    const YAML::Node node = root_[key];
    if (!node.IsDefined()) {
      Fail(key, expected, "nothing (key missing)");
    }
    return node;
  }

  YAML::Node Scalar(const char * key, const char * expected) const
  {
    const YAML::Node node = Present(key, expected);
    if (!node.IsScalar()) {
      Fail(key, expected, node.IsNull() ? "null" : "a sequence or map");
    }
    return node;
  }

  const YAML::Node & root_;
  const std::string & path_;
};

bool Finite(double value) {return std::isfinite(value);}

}  // namespace

std::string TrashTrackerConfig::Check() const
{
  // Only what would break the tracker is refused: a non-finite number poisons every comparison,
  // and association and retention need positive distances. Counts, the view-window rate, the size
  // limits and the footprint order merely change behaviour (a negative count publishes or drops
  // every track, a rate above 1 widens the window past the image, an inverted footprint removes
  // nothing), so any value of the right form is accepted.
  if (!Finite(dist_thres) || dist_thres <= 0.0F) {
    return "'dist_thres' must be a positive number of metres";
  }
  if (!Finite(cache_radius) || cache_radius <= 0.0F) {
    return "'cache_radius' must be a positive number of metres";
  }
  if (!Finite(sensor_range_rate)) {
    return "'sensor_range_rate' must be a finite number";
  }
  if (!Finite(base_handle_waste_height_metric)) {
    return "'base_handle_waste_height_metric' must be a finite number of metres";
  }
  if (!Finite(base_handle_waste_length_metric)) {
    return "'base_handle_waste_length_metric' must be a finite number of metres";
  }
  for (const float bound : footprint_box) {
    if (!Finite(bound)) {
      return "'base_footprint' must hold finite numbers";
    }
  }
  return {};
}

TrashTrackerConfig LoadTrashTrackerConfig(const std::string & path)
{
  YAML::Node root;
  try {
    root = YAML::LoadFile(path);
  } catch (const YAML::BadFile &) {
    throw TrackerConfigError("tracker configuration '" + path + "' cannot be opened");
  } catch (const YAML::Exception & e) {
    throw TrackerConfigError("tracker configuration '" + path + "' is not valid YAML: " + e.what());
  }
  if (!root.IsMap()) {
    throw TrackerConfigError("tracker configuration '" + path + "' must be a map of keys");
  }

  const ConfigReader reader(root, path);
  TrashTrackerConfig config;
  config.dist_thres = static_cast<float>(reader.Number("dist_thres"));
  config.min_age_threshold = reader.Integer("min_age_threshold");
  config.max_retain_time = reader.Integer("max_retain_time");
  config.cache_radius = static_cast<float>(reader.Number("cache_radius"));
  config.sensor_range_rate = static_cast<float>(reader.Number("sensor_range_rate"));
  config.base_handle_waste_height_metric =
    static_cast<float>(reader.Number("base_handle_waste_height_metric"));
  config.base_handle_waste_length_metric =
    static_cast<float>(reader.Number("base_handle_waste_length_metric"));
  config.base_handle_class = reader.ClassList("base_handle_class");
  config.arm_handle_class = reader.ClassList("arm_handle_class");
  config.uncertain_class = reader.ClassList("uncertain_class");
  config.footprint_box = reader.Footprint("base_footprint");
  config.class_num = reader.Integer("class_num");

  const std::string problem = config.Check();
  if (!problem.empty()) {
    throw TrackerConfigError("tracker configuration '" + path + "': " + problem);
  }
  return config;
}

}  // namespace perception
}  // namespace orvix
