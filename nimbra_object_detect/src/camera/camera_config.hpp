// The camera's parameter record and the readers that fill it from node parameters and files.
// Free of DDS: the readers take the node's parameter store, so they test without a network.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "common/cloud_config.hpp"
#include "nimbra_perception_libs/cloud_cluster.hpp"
#include "nimbra_perception_libs/ground_removal_params.hpp"

namespace rclcdds
{
namespace node_interfaces
{
class NodeParameters;
}  // namespace node_interfaces
}  // namespace rclcdds

namespace nimbra
{

/// Thresholds of the camera's trash worker.
struct TrashThresholds
{
  float trash_distance_threshold = 1.5F;  ///< farthest accepted item ahead of the robot, metres
  float robot_angular_threshold = 0.5F;   ///< turn rate above which no frame is used, rad/s
  int32_t bbox_edge_threshold = 5;        ///< boxes this close to the image border are dropped, pixels
};

/// Per-camera parameters read once at construction (node parameters without camera prefix).
struct CameraConfig
{
  bool debug = true;                     ///< publish the debug clouds and images
  bool use_ai_thread = false;            ///< run inference on a worker thread
  bool data_flow_trace = false;          ///< log latency statistics and traces
  bool close_ai_detect = false;          ///< never run inference
  int32_t remove_ground_method = 0;      ///< logged only
  int32_t box_enlarge_size = 3;          ///< logged only, pixels
  float depth_rgb_time_diff = 0.08F;     ///< largest colour/depth stamp gap of a full frame, seconds
  int32_t depth_rgb_wait_time_ms = 50;   ///< how long a depth frame waits for its colour frame, ms
  int32_t rgb_buffer_size = 15;          ///< colour frames kept for pairing
  int32_t sample_kernel_size = 2;        ///< region sampling stride, pixels
  int32_t dangerous_sample_kernel_size = 2;  ///< dangerous-region sampling stride, pixels
  int32_t gridWidth = 100;               ///< region map width, cells
  int32_t gridHeight = 0;                ///< region map height, cells
  float gridResolution = 0.05F;          ///< region map cell edge, metres
  int32_t kernel_size = 5;               ///< region map dilation kernel, cells
  int32_t lethal_iter = 1;               ///< lethal map dilation iterations
  int32_t dangerous_iter = 1;            ///< dangerous map dilation iterations
  float cam_base = 0.0F;                 ///< camera offset subtracted from the range, metres (fixed)
  bool dangerous_use_two_camera = true;  ///< both cameras hand off region maps (fixed)
  std::set<int32_t> dangerous_class_set_;  ///< semantic classes whose regions are dangerous
  std::set<int32_t> trash_class_set_;      ///< semantic classes the trash worker handles
  CloudConfig cloud;                     ///< cloud-processing block handed to `Cloud`
  TrashThresholds trash;                 ///< trash worker thresholds
};

using NodeParameters = rclcdds::node_interfaces::NodeParameters;

// The readers carry the names of the camera members that call them: their log lines name the
// reading step as the source function.

/// @brief Reads the camera parameters (absent: default) and logs every value it will use.
/// @throws rclcdds::exceptions::InvalidParameterTypeException for a parameter of the wrong type.
CameraConfig getConfigParameters(const NodeParameters & parameters, int32_t cam_id);

/// @brief Reads "cam<n>.<field>" (and "cam<n>_.segmentation_bin_len") and logs every field.
/// @throws rclcdds::exceptions::InvalidParameterTypeException for a non-double value.
orvix::perception::GroundRemovalParams getRemoveGroundPara(
  const NodeParameters & parameters, int32_t cam_id);

/// @brief Applies the calibration file named by "ground_height_file" to `ground.cam_height`.
/// A missing file is logged and leaves `ground` unchanged.
/// @throws std::runtime_error naming the file and key when the file is not valid YAML or lacks
/// "camera_0<n>"/"cam_height" as a number.
void getGroundHeightPara(
  const NodeParameters & parameters, int32_t cam_id,
  orvix::perception::GroundRemovalParams & ground);

/// @brief Reads the cluster file named by "cluster_file" from the package's config directory.
/// @throws std::runtime_error naming the file and key on any problem.
orvix::perception::CloudClusterPara getPointCloudClusterPara(
  const NodeParameters & parameters, int32_t cam_id);

/// Name of ground field `index` (0..16) of GroundRemovalParams, in layout order.
const char * GroundFieldName(std::size_t index);
/// Number of ground fields.
constexpr std::size_t kGroundFieldCount = 17;
/// Field `index` of the record by layout.
float & GroundField(orvix::perception::GroundRemovalParams & params, std::size_t index);

/// @brief Share directory of this package + "/config/" + name.
std::string PackageConfigPath(const std::string & name);

}  // namespace nimbra
