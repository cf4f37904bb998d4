#include "camera/camera_config.hpp"

#include <ament_index_cpp/get_package_share_directory.hpp>
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"

namespace nimbra
{

namespace
{

/// Typed read with a default: the value when the parameter exists, `fallback` otherwise.
/// A parameter of another type throws the invalid-parameter-type exception.
template<typename T>
T Read(const NodeParameters & parameters, const std::string & name, const T & fallback)
{
  T value = fallback;
  if (!parameters.get_parameter(name, value)) {
    value = fallback;
  }
  return value;
}

/// Doubles are narrowed to float after a typed double read.
float ReadFloat(const NodeParameters & parameters, const std::string & name, float fallback)
{
  return static_cast<float>(Read<double>(parameters, name, static_cast<double>(fallback)));
}

int32_t ReadInt(const NodeParameters & parameters, const std::string & name, int32_t fallback)
{
  return static_cast<int32_t>(Read<int64_t>(parameters, name, fallback));
}

/// Parses a list of class names into values; names that are no class are skipped.
std::set<int32_t> ReadClassSet(
  const NodeParameters & parameters, const std::string & name,
  const std::vector<std::string> & fallback)
{
  std::set<int32_t> result;
  for (const auto & text : Read<std::vector<std::string>>(parameters, name, fallback)) {
    semantic::SemanticType type;
    if (semantic::ParseSemanticType(text, type)) {
      result.insert(static_cast<int32_t>(type));
    }
  }
  return result;
}

/// "NAME1,NAME2," in ascending value order: the body of a logged class list.
std::string ClassListText(const std::set<int32_t> & classes)
{
  std::string text;
  for (int32_t value : classes) {
    text += semantic::SemanticTypeName(value) + ",";
  }
  return text;
}

constexpr const char * kGroundFieldNames[kGroundFieldCount] = {
  "segmentation_angular_resolution", "point_cloud_max_range", "point_cloud_min_range",
  "segmentation_bin_len", "cam_height", "max_lsq_residual", "min_slope", "max_slope",
  "max_height_diff_for_start_up", "max_height_diff_for_start_down",
  "max_dist_point_groundline", "long_threshold", "max_height_diff_for_front",
  "x_distance_need_preprocess", "z_distance_need_remove", "max_obstacle_height",
  "diluting_threshold",
};



/// Loads a YAML file; any failure becomes one error naming the file.
YAML::Node LoadConfigFile(const std::string & path, const char * what)
{
  try {
    return YAML::LoadFile(path);
  } catch (const YAML::Exception & e) {
    throw std::runtime_error(
            std::string(what) + " '" + path + "' cannot be loaded: " + e.what());
  }
}

template<typename T>
T ReadKey(const YAML::Node & map, const std::string & key, const std::string & path,
  const char * expected)
{
  const YAML::Node node = map.IsMap() ? map[key] : YAML::Node();
  try {
    if (node && node.IsScalar()) {
      return node.as<T>();
    }
  } catch (const YAML::Exception &) {
  }
  throw std::runtime_error(
          "file '" + path + "': key '" + key + "' must be " + expected);
}

}  // namespace

const char * GroundFieldName(std::size_t index)
{
  return index < kGroundFieldCount ? kGroundFieldNames[index] : "";
}

float & GroundField(orvix::perception::GroundRemovalParams & params, std::size_t index)
{
  // The record is seventeen floats in layout order (checked by its own static_assert).
  return reinterpret_cast<float *>(&params)[index < kGroundFieldCount ? index : 0];
}

std::string PackageConfigPath(const std::string & name)
{
  return ament_index_cpp::get_package_share_directory("nimbra_object_detect") + "/config/" + name;
}

CameraConfig getConfigParameters(const NodeParameters & p, int32_t cam_id)
{
  CameraConfig c;
  CloudConfig & k = c.cloud;
  c.debug = Read<bool>(p, "debug", c.debug);
  c.data_flow_trace = Read<bool>(p, "data_flow_trace", c.data_flow_trace);
  c.use_ai_thread = Read<bool>(p, "use_ai_thread", c.use_ai_thread);
  c.close_ai_detect = Read<bool>(p, "close_ai_detect", c.close_ai_detect);
  c.remove_ground_method = ReadInt(p, "remove_ground_method", c.remove_ground_method);
  c.box_enlarge_size = ReadInt(p, "box_enlarge_size", c.box_enlarge_size);
  c.depth_rgb_time_diff = ReadFloat(p, "depth_rgb_time_diff", c.depth_rgb_time_diff);
  c.depth_rgb_wait_time_ms = ReadInt(p, "depth_rgb_wait_time_ms", c.depth_rgb_wait_time_ms);
  c.rgb_buffer_size = ReadInt(p, "rgb_buffer_size", c.rgb_buffer_size);
  c.dangerous_sample_kernel_size =
    ReadInt(p, "dangerous_sample_kernel_size", c.dangerous_sample_kernel_size);
  c.gridWidth = ReadInt(p, "gridWidth", c.gridWidth);
  c.gridHeight = ReadInt(p, "gridHeight", c.gridHeight);
  c.gridResolution = ReadFloat(p, "gridResolution", c.gridResolution);
  c.kernel_size = ReadInt(p, "kernel_size", c.kernel_size);
  c.lethal_iter = ReadInt(p, "lethal_iter", c.lethal_iter);
  c.dangerous_iter = ReadInt(p, "dangerous_iter", c.dangerous_iter);
  c.dangerous_class_set_ = ReadClassSet(p, "dangerous_class_type", {"ESCALATOR_ENTRANCE"});
  k.cloud_x_leafSize = ReadFloat(p, "cloud_x_leafSize", k.cloud_x_leafSize);
  k.cloud_y_leafSize = ReadFloat(p, "cloud_y_leafSize", k.cloud_y_leafSize);
  k.cloud_z_leafSize = ReadFloat(p, "cloud_z_leafSize", k.cloud_z_leafSize);
  k.cloud_min_point = ReadInt(p, "cloud_min_point", k.cloud_min_point);
  k.cloud_search_radius = ReadFloat(p, "cloud_search_radius", k.cloud_search_radius);
  k.cloud_point_num = ReadInt(p, "cloud_point_num", k.cloud_point_num);
  k.cloud_x_split_distance = ReadFloat(p, "cloud_x_split_distance", k.cloud_x_split_distance);
  k.cloud_xyz_merge_distance =
    ReadFloat(p, "cloud_xyz_merge_distance", k.cloud_xyz_merge_distance);
  k.cloud_x_merge_distance = ReadFloat(p, "cloud_x_merge_distance", k.cloud_x_merge_distance);
  k.cloud_y_merge_distance = ReadFloat(p, "cloud_y_merge_distance", k.cloud_y_merge_distance);
  k.mask_iou_min = ReadFloat(p, "mask_iou_min", k.mask_iou_min);
  k.mask_iou_max = ReadFloat(p, "mask_iou_max", k.mask_iou_max);
  k.person_distance = ReadFloat(p, "person_distance", k.person_distance);
  k.obstacle_percent = ReadFloat(p, "obstacle_percent", k.obstacle_percent);
  k.person_percent = ReadFloat(p, "person_percent", k.person_percent);
  c.sample_kernel_size = ReadInt(p, "sample_kernel_size", c.sample_kernel_size);
  // The far limit follows the built-in ground range, not the configured one: the ground
  // parameters are read after this record.
  k.depth_max = orvix::perception::GroundRemovalParams{}.point_cloud_max_range - c.cam_base;
  c.trash.trash_distance_threshold =
    ReadFloat(p, "trash_detection.trash_distance_threshold", c.trash.trash_distance_threshold);
  c.trash.robot_angular_threshold =
    ReadFloat(p, "trash_detection.robot_angular_threshold", c.trash.robot_angular_threshold);
  c.trash.bbox_edge_threshold =
    ReadInt(p, "trash_detection.bbox_edge_threshold", c.trash.bbox_edge_threshold);
  c.trash_class_set_ = ReadClassSet(p, "trash_detection.trash_class_type", {});
  const CloudConfig & logged = c.cloud;
  LOG_INFO("cam_{0:d}_debug = {1:d}", cam_id, c.debug ? 1 : 0);
  LOG_INFO("cam_{0:d}_use_ai_thread = {1:d}", cam_id, c.use_ai_thread ? 1 : 0);
  LOG_INFO("cam_{0:d}_cam_base = {1:05.4f}", cam_id, c.cam_base);
  LOG_INFO("cam_{0:d}_remove_ground_method = {1:d}", cam_id, c.remove_ground_method);
  LOG_INFO("cam_{0:d}_box_enlarge_size = {1:d}", cam_id, c.box_enlarge_size);
  LOG_INFO("cam_{0:d}_depth_rgb_time_diff = {1:05.4f}", cam_id, c.depth_rgb_time_diff);
  LOG_INFO("cam_{0:d}_depth_rgb_wait_time = {1:d}", cam_id, c.depth_rgb_wait_time_ms);
  LOG_INFO("cam_{0:d}_rgb_buffer_size = {1:d}", cam_id, c.rgb_buffer_size);
  LOG_INFO("cam_{0:d}_dangerous_sample_kernel_size = {1:d}", cam_id, c.dangerous_sample_kernel_size);
  LOG_INFO("cam_{0:d}_gridWidth = {1:d}", cam_id, c.gridWidth);
  LOG_INFO("cam_{0:d}_gridHeight = {1:d}", cam_id, c.gridHeight);
  LOG_INFO("cam_{0:d}_gridResolution = {1:05.4f}", cam_id, c.gridResolution);
  LOG_INFO("cam_{0:d}_kernel_size = {1:d}", cam_id, c.kernel_size);
  LOG_INFO("cam_{0:d}_lethal_iter = {1:d}", cam_id, c.lethal_iter);
  LOG_INFO("cam_{0:d}_dangerous_iter = {1:d}", cam_id, c.dangerous_iter);
  LOG_INFO("cam_{0:d}_dangerous_use_two_camera = {1:d}", cam_id, c.dangerous_use_two_camera ? 1 : 0);
  LOG_INFO("cam_{0:d}_dangerous_class_id = [{1:s}]", cam_id, ClassListText(c.dangerous_class_set_));
  LOG_INFO("cam_{0:d}_cloud_x_leafSize = {1:05.4f}", cam_id, logged.cloud_x_leafSize);
  LOG_INFO("cam_{0:d}_cloud_y_leafSize = {1:05.4f}", cam_id, logged.cloud_y_leafSize);
  LOG_INFO("cam_{0:d}_cloud_z_leafSize = {1:05.4f}", cam_id, logged.cloud_z_leafSize);
  LOG_INFO("cam_{0:d}_cloud_min_point = {1:d}", cam_id, logged.cloud_min_point);
  LOG_INFO("cam_{0:d}_cloud_search_radius = {1:05.4f}", cam_id, logged.cloud_search_radius);
  LOG_INFO("cam_{0:d}_cloud_point_num = {1:d}", cam_id, logged.cloud_point_num);
  LOG_INFO("cam_{0:d}_cloud_x_split_distance = {1:05.4f}", cam_id, logged.cloud_x_split_distance);
  LOG_INFO("cam_{0:d}_cloud_xyz_merge_distance = {1:05.4f}", cam_id, logged.cloud_xyz_merge_distance);
  LOG_INFO("cam_{0:d}_cloud_x_merge_distance = {1:05.4f}", cam_id, logged.cloud_x_merge_distance);
  LOG_INFO("cam_{0:d}_cloud_mask_iou_min = {1:05.4f}", cam_id, logged.mask_iou_min);
  LOG_INFO("cam_{0:d}_cloud_mask_iou_max = {1:05.4f}", cam_id, logged.mask_iou_max);
  LOG_INFO("cam_{0:d}_person_distance = {1:05.4f}", cam_id, logged.person_distance);
  LOG_INFO("cam_{0:d}_depth_max = {1:05.4f}", cam_id, logged.depth_max);
  LOG_INFO("cam_{0:d}_obstacle_percent = {1:05.4f}", cam_id, logged.obstacle_percent);
  LOG_INFO("cam_{0:d}_person_percent = {1:05.4f}", cam_id, logged.person_percent);
  LOG_INFO("cam_{0:d}_trash_distance_threshold = {1:05.4f}", cam_id, c.trash.trash_distance_threshold);
  LOG_INFO("cam_{0:d}_robot_angular_threshold = {1:05.4f}", cam_id, c.trash.robot_angular_threshold);
  LOG_INFO("cam_{0:d}_bbox_edge_threshold = {1:d}", cam_id, c.trash.bbox_edge_threshold);
  LOG_INFO("cam_{0:d}_trash_class_id = [{1:s}]", cam_id, ClassListText(c.trash_class_set_));
  return c;
}

orvix::perception::GroundRemovalParams getRemoveGroundPara(
  const NodeParameters & p, int32_t cam_id)
{
  orvix::perception::GroundRemovalParams g;
  const std::string prefix = "cam" + std::to_string(cam_id);
  for (std::size_t i = 0; i < kGroundFieldCount; ++i) {
    const std::string field = kGroundFieldNames[i];
    // segmentation_bin_len alone is read with an underscore between number and dot.
    const std::string name =
      field == "segmentation_bin_len" ? prefix + "_." + field : prefix + "." + field;
    GroundField(g, i) = ReadFloat(p, name, GroundField(g, i));
  }
  LOG_INFO("cam_{0:d}_remove_ground_params_.segmentation_angular_resolution = {1:05.4f}", cam_id,
    g.segmentation_angular_resolution);
  LOG_INFO("cam_{0:d}_remove_ground_params_.point_cloud_max_range = {1:05.4f}", cam_id,
    g.point_cloud_max_range);
  LOG_INFO("cam_{0:d}_remove_ground_params_.point_cloud_min_range = {1:05.4f}", cam_id,
    g.point_cloud_min_range);
  LOG_INFO("cam_{0:d}_remove_ground_params_.segmentation_bin_len = {1:05.4f}", cam_id,
    g.segmentation_bin_len);
  LOG_INFO("cam_{0:d}_remove_ground_params_.cam_height = {1:05.4f}", cam_id, g.cam_height);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_lsq_residual = {1:05.4f}", cam_id,
    g.max_lsq_residual);
  LOG_INFO("cam_{0:d}_remove_ground_params_.min_slope  = {1:05.4f}", cam_id, g.min_slope);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_slope  = {1:05.4f}", cam_id, g.max_slope);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_height_diff_for_start_up  = {1:05.4f}", cam_id,
    g.max_height_diff_for_start_up);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_height_diff_for_start_down  = {1:05.4f}", cam_id,
    g.max_height_diff_for_start_down);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_dist_point_groundline  = {1:05.4f}", cam_id,
    g.max_dist_point_groundline);
  LOG_INFO("cam_{0:d}_remove_ground_params_.long_threshold  = {1:05.4f}", cam_id, g.long_threshold);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_height_diff_for_front  = {1:05.4f}", cam_id,
    g.max_height_diff_for_front);
  LOG_INFO("cam_{0:d}_remove_ground_params_.x_distance_need_preprocess  = {1:05.4f}", cam_id,
    g.x_distance_need_preprocess);
  LOG_INFO("cam_{0:d}_remove_ground_params_.z_distance_need_remove  = {1:05.4f}", cam_id,
    g.z_distance_need_remove);
  LOG_INFO("cam_{0:d}_remove_ground_params_.max_obstacle_height  = {1:05.4f}", cam_id,
    g.max_obstacle_height);
  LOG_INFO("cam_{0:d}_remove_ground_params_.diluting_threshold  = {1:05.4f}", cam_id,
    g.diluting_threshold);
  return g;
}

void getGroundHeightPara(
  const NodeParameters & p, int32_t cam_id, orvix::perception::GroundRemovalParams & ground)
{
  const std::string path = Read<std::string>(p, "ground_height_file", "ground_height_file");
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) {
    LOG_ERROR("ground_height_file: {0:s} not exist, use default from remove_ground.yaml", path);
    return;
  }
  std::cout << "ground_height_file: " << path << "\n";
  LOG_INFO("cam_{0:d}:ground_height_file = {1:s}", cam_id, path);
  const YAML::Node root = LoadConfigFile(path, "ground height file");
  const std::string key = "camera_0" + std::to_string(cam_id);
  const YAML::Node camera = root.IsMap() ? root[key] : YAML::Node();
  if (!camera || !camera.IsMap()) {
    throw std::runtime_error(
            "file '" + path + "': key '" + key + "' must be a map holding cam_height");
  }
  ground.cam_height = ReadKey<float>(camera, "cam_height", path, "a number (metres)");
  LOG_INFO("cam_{0:d}_calibration_ground_params_.cam_height = {1:05.4f}", cam_id,
    ground.cam_height);
}

orvix::perception::CloudClusterPara getPointCloudClusterPara(
  const NodeParameters & p, int32_t cam_id)
{
  const std::string name = Read<std::string>(p, "cluster_file", "point_cloud_cluster.yaml");
  const std::string path = PackageConfigPath(name);
  LOG_INFO("cam_{0:d}:cluster_file = {1:s}", cam_id, path);
  const YAML::Node root = LoadConfigFile(path, "cluster file");
  orvix::perception::CloudClusterPara c;
  c.cluster_grid_step = ReadKey<float>(root, "cluster_grid_step", path, "a number (metres)");
  c.cluster_grid_kernelSize = ReadKey<int32_t>(root, "cluster_grid_kernelSize", path,
      "an integer (cells)");
  c.cluster_grid_th = ReadKey<int32_t>(root, "cluster_grid_th", path, "an integer (points)");
  LOG_INFO("cam_{0:d}_grid_step = {1:05.4f}", cam_id, c.cluster_grid_step);
  LOG_INFO("cam_{0:d}_grid_kernelSize = {1:d}", cam_id, c.cluster_grid_kernelSize);
  LOG_INFO("cam_{0:d}_grid_th = {1:d}", cam_id, c.cluster_grid_th);
  return c;
}

}  // namespace nimbra
