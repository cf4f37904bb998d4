#include "nimbra_perception_libs/dynamic_detector_params.hpp"

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <yaml-cpp/yaml.h>

namespace orvix
{
namespace perception
{
namespace
{

constexpr const char * kRootKey = "dynamic_cloud_detector";

std::string keyPath(const std::string & key)
{
  return std::string(kRootKey) + "." + key;
}

template<typename T>
void readField(
  const std::string & path, const YAML::Node & map, const std::string & key, const char * type_name,
  T & field)
{
  const YAML::Node node = map[key];
  if (!node) {
    return;
  }
  if (!node.IsScalar()) {
    throw ConfigError(path + ": key '" + keyPath(key) + "' has invalid type: expected " + type_name);
  }
  try {
    field = node.as<T>();
  } catch (const YAML::Exception &) {
    throw ConfigError(
            path + ": key '" + keyPath(key) + "' has invalid type: expected " + type_name + ", got '" +
            node.Scalar() + "'");
  }
}

}  // namespace

std::string validateDynamicDetectorParams(const DynamicDetectorParams & p)
{
  auto finite_at_least = [](float v, float low) {return std::isfinite(v) && v >= low;};
  if (p.history_frames < 1 || p.history_frames > 64) {
    return "history_frames: expected an integer in [1, 64]";
  }
  if (p.min_votes < 1 || p.min_votes > p.history_frames) {
    return "min_votes: expected an integer in [1, history_frames]";
  }
  if (!finite_at_least(p.min_depth_gap, 0.0F)) {
    return "min_depth_gap: expected a finite number >= 0";
  }
  if (!finite_at_least(p.depth_gap_ratio, 0.0F)) {
    return "depth_gap_ratio: expected a finite number >= 0";
  }
  if (!finite_at_least(p.min_depth, 0.0F) || p.min_depth <= 0.0F) {
    return "min_depth: expected a finite number > 0";
  }
  if (!std::isfinite(p.max_depth) || p.max_depth <= p.min_depth) {
    return "max_depth: expected a finite number > min_depth";
  }
  if (p.depth_downsample < 1 || p.depth_downsample > 16) {
    return "depth_downsample: expected an integer in [1, 16]";
  }
  if (!std::isfinite(p.match_tolerance) || p.match_tolerance <= 0.0F) {
    return "match_tolerance: expected a finite number > 0";
  }
  if (!std::isfinite(p.reset_distance) || p.reset_distance <= 0.0F) {
    return "reset_distance: expected a finite number > 0";
  }
  if (!std::isfinite(p.object_grid_step) || p.object_grid_step < 0.01F || p.object_grid_step > 1.0F) {
    return "object_grid_step: expected a number in [0.01, 1]";
  }
  if (!finite_at_least(p.object_max_extent, 0.0F)) {
    return "object_max_extent: expected a finite number >= 0";
  }
  if (p.object_min_seeds < 1) {
    return "object_min_seeds: expected an integer >= 1";
  }
  if (!std::isfinite(p.object_min_seed_share) || p.object_min_seed_share < 0.0F || p.object_min_seed_share > 1.0F) {
    return "object_min_seed_share: expected a number in [0, 1]";
  }
  if (!std::isfinite(p.object_max_held_share) || p.object_max_held_share < 0.0F || p.object_max_held_share > 1.0F) {
    return "object_max_held_share: expected a number in [0, 1]";
  }
  if (p.confirm_frames < 1 || p.confirm_frames > 64) {
    return "confirm_frames: expected an integer in [1, 64]";
  }
  if (p.track_memory < 0 || p.track_memory > 1000) {
    return "track_memory: expected an integer in [0, 1000]";
  }
  if (!finite_at_least(p.track_gate, 0.0F)) {
    return "track_gate: expected a finite number >= 0";
  }
  if (!finite_at_least(p.track_growth, 0.0F)) {
    return "track_growth: expected a finite number >= 0";
  }
  if (p.motion_frames < 0 || p.motion_frames > 15) {
    return "motion_frames: expected an integer in [0, 15]";
  }
  if (!finite_at_least(p.motion_min_distance, 0.0F)) {
    return "motion_min_distance: expected a finite number >= 0";
  }
  if (!finite_at_least(p.track_min_step, 0.0F)) {
    return "track_min_step: expected a finite number >= 0";
  }
  return std::string();
}

DynamicDetectorParams loadDynamicDetectorParams(const std::string & path)
{
  std::ifstream file(path);
  if (!file) {
    throw ConfigError(path + ": cannot open the dynamic cloud detector configuration file");
  }
  std::stringstream text;
  text << file.rdbuf();
  YAML::Node root;
  try {
    root = YAML::Load(text.str());
  } catch (const YAML::Exception & e) {
    throw ConfigError(path + ": invalid YAML: " + e.what());
  }
  if (!root.IsMap() || !root[kRootKey] || !root[kRootKey].IsMap()) {
    throw ConfigError(path + ": key '" + kRootKey + "' missing or not a map: expected a map");
  }
  const YAML::Node map = root[kRootKey];
  static const std::set<std::string> known = {
    "history_frames", "min_votes", "min_depth_gap", "depth_gap_ratio", "min_depth", "max_depth",
    "depth_downsample", "match_tolerance", "reset_distance", "object_grid_step", "object_max_extent",
    "object_min_seeds", "object_min_seed_share", "object_max_held_share", "confirm_frames", "track_memory", "track_gate",
    "track_growth", "motion_frames", "motion_min_distance", "track_min_step"};
  for (const auto & entry : map) {
    const std::string key = entry.first.as<std::string>();
    if (known.count(key) == 0) {
      throw ConfigError(path + ": unknown key '" + keyPath(key) + "'");
    }
  }
  DynamicDetectorParams p;
  readField(path, map, "history_frames", "integer", p.history_frames);
  readField(path, map, "min_votes", "integer", p.min_votes);
  readField(path, map, "min_depth_gap", "number", p.min_depth_gap);
  readField(path, map, "depth_gap_ratio", "number", p.depth_gap_ratio);
  readField(path, map, "min_depth", "number", p.min_depth);
  readField(path, map, "max_depth", "number", p.max_depth);
  readField(path, map, "depth_downsample", "integer", p.depth_downsample);
  readField(path, map, "match_tolerance", "number", p.match_tolerance);
  readField(path, map, "reset_distance", "number", p.reset_distance);
  readField(path, map, "object_grid_step", "number", p.object_grid_step);
  readField(path, map, "object_max_extent", "number", p.object_max_extent);
  readField(path, map, "object_min_seeds", "integer", p.object_min_seeds);
  readField(path, map, "object_min_seed_share", "number", p.object_min_seed_share);
  readField(path, map, "object_max_held_share", "number", p.object_max_held_share);
  readField(path, map, "confirm_frames", "integer", p.confirm_frames);
  readField(path, map, "track_memory", "integer", p.track_memory);
  readField(path, map, "track_gate", "number", p.track_gate);
  readField(path, map, "track_growth", "number", p.track_growth);
  readField(path, map, "motion_frames", "integer", p.motion_frames);
  readField(path, map, "motion_min_distance", "number", p.motion_min_distance);
  readField(path, map, "track_min_step", "number", p.track_min_step);
  const std::string problem = validateDynamicDetectorParams(p);
  if (!problem.empty()) {
    const std::size_t colon = problem.find(':');
    throw ConfigError(
            path + ": key '" + keyPath(problem.substr(0, colon)) + "' out of range:" +
            problem.substr(colon + 1));
  }
  return p;
}

}  // namespace perception
}  // namespace orvix
