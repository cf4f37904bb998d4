// Camera parameters and parameter files read from a parameter store without DDS: defaults, the
// exact start-up log, type errors, per-camera names, the calibration and the cluster file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "camera/camera_config.hpp"
#include "log_capture.hpp"
#include "package_prefix.hpp"
#include "rclcdds/exceptions.hpp"
#include "rclcdds/node_interfaces/node_parameters.hpp"
#include "rclcdds/node_options.hpp"

namespace nimbra::test
{
namespace
{

namespace fs = std::filesystem;
using orvix::perception::GroundRemovalParams;

std::unique_ptr<NodeParameters> Store(const std::vector<rclcdds::Parameter> & overrides = {})
{
  rclcdds::NodeOptions options;
  options.automatically_declare_parameters_from_overrides(true).parameter_overrides(overrides);
  return std::make_unique<NodeParameters>("/object_detect", options, nullptr);
}

/// Reads everything a camera constructor reads, in its order; returns the ground record.
GroundRemovalParams ReadCamera(const NodeParameters & parameters, int32_t cam_id)
{
  getConfigParameters(parameters, cam_id);
  GroundRemovalParams ground = getRemoveGroundPara(parameters, cam_id);
  getGroundHeightPara(parameters, cam_id, ground);
  getPointCloudClusterPara(parameters, cam_id);
  return ground;
}

/// The start-up log of camera `cam_id` with no parameters at all.
std::vector<std::string> DefaultStartUpLog(int cam_id, const std::string & cluster_path)
{
  static const char * const kValues[] = {
    "debug = 1", "use_ai_thread = 0", "cam_base = 0.0000", "remove_ground_method = 0",
    "box_enlarge_size = 3", "depth_rgb_time_diff = 0.0800", "depth_rgb_wait_time = 50",
    "rgb_buffer_size = 15", "dangerous_sample_kernel_size = 2", "gridWidth = 100",
    "gridHeight = 0", "gridResolution = 0.0500", "kernel_size = 5", "lethal_iter = 1",
    "dangerous_iter = 1", "dangerous_use_two_camera = 1",
    "dangerous_class_id = [ESCALATOR_ENTRANCE,]", "cloud_x_leafSize = 0.0250",
    "cloud_y_leafSize = 0.0250", "cloud_z_leafSize = 0.0250", "cloud_min_point = 5",
    "cloud_search_radius = 0.0100", "cloud_point_num = 10", "cloud_x_split_distance = 0.6000",
    "cloud_xyz_merge_distance = 0.3000", "cloud_x_merge_distance = 0.3000",
    "cloud_mask_iou_min = 0.5000", "cloud_mask_iou_max = 0.5000", "person_distance = 2.0000",
    "depth_max = 2.0000", "obstacle_percent = 0.2000", "person_percent = 0.5000",
    "trash_distance_threshold = 1.5000", "robot_angular_threshold = 0.5000",
    "bbox_edge_threshold = 5", "trash_class_id = []",
    "segmentation_angular_resolution = 0.2000", "point_cloud_max_range = 2.0000",
    "point_cloud_min_range = 0.4500", "segmentation_bin_len = 0.0500", "cam_height = 0.0500",
    "max_lsq_residual = 0.1500", "min_slope  = 0.0000", "max_slope  = 0.2000",
    "max_height_diff_for_start_up  = 0.0500", "max_height_diff_for_start_down  = 0.1300",
    "max_dist_point_groundline  = 0.0450", "long_threshold  = 0.2000",
    "max_height_diff_for_front  = 0.0400", "x_distance_need_preprocess  = 1.0000",
    "z_distance_need_remove  = 0.0500", "max_obstacle_height  = 0.6660",
    "diluting_threshold  = 0.0300",
  };

  const std::string cam = "cam_" + std::to_string(cam_id);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < std::size(kValues); ++i) {
    // The ground fields (the last seventeen) carry the record's name.
    lines.push_back("[INFO] " + cam + (i < 36 ? "_" : "_remove_ground_params_.") + kValues[i]);
  }
  lines.insert(lines.end(), {
    "[ERROR] ground_height_file: ground_height_file not exist, use default from remove_ground.yaml",
    "[INFO] " + cam + ":cluster_file = " + cluster_path, "[INFO] " + cam + "_grid_step = 0.0500",
    "[INFO] " + cam + "_grid_kernelSize = 3", "[INFO] " + cam + "_grid_th = 10"});
  return lines;
}

/// A private package prefix with the shipped cluster file as the only AMENT_PREFIX_PATH entry.
class CameraConfigTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::ifstream shipped(std::string(NIMBRA_OD_CONFIG_DIR) + "/point_cloud_cluster.yaml");
    PackagePrefix::write(prefix_.configDir() / "point_cloud_cluster.yaml",
      std::string(std::istreambuf_iterator<char>(shipped), {}));
  }

  PackagePrefix prefix_;
  const fs::path root_ = prefix_.root();
  const std::string config_dir_ = prefix_.configDir().string();
};

TEST_F(CameraConfigTest, NoParametersGiveTheDefaultsAndTheStartUpLog)
{
  const auto parameters = Store();
  for (const int cam_id : {1, 2}) {
    LogCapture capture;
    ::testing::internal::CaptureStdout();
    const GroundRemovalParams ground = ReadCamera(*parameters, cam_id);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    const GroundRemovalParams defaults;
    EXPECT_EQ(std::memcmp(&ground, &defaults, sizeof(defaults)), 0);
    EXPECT_EQ(capture.Lines(), DefaultStartUpLog(cam_id, config_dir_ + "/point_cloud_cluster.yaml"));
  }
}

TEST_F(CameraConfigTest, ClassListsAndParameterTypes)
{
  const auto parameters = Store({
    {"dangerous_class_type", std::vector<std::string>{"person", "nonsense", "PERSON"}},
    {"cloud_x_leafSize", 1.0}});
  LogCapture capture;
  getConfigParameters(*parameters, 1);  // the log prints the values read
  const std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(
    std::count(lines.begin(), lines.end(), "[INFO] cam_1_dangerous_class_id = [PERSON,]"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[INFO] cam_1_cloud_x_leafSize = 1.0000"), 1);

  // A value of another type than the read throws the parameter-type exception.
  for (const rclcdds::Parameter & parameter : std::vector<rclcdds::Parameter>{
      {"cloud_x_leafSize", 1}, {"debug", 1}, {"gridWidth", 100.0}, {"cam1.max_slope", "0.3"}})
  {
    const auto wrong = Store({parameter});
    EXPECT_THROW(ReadCamera(*wrong, 1), rclcdds::exceptions::InvalidParameterTypeException)
      << parameter.get_name();
  }
}

TEST_F(CameraConfigTest, GroundNamesAndTheCalibrationFile)
{
  const std::string calibration =
    PackagePrefix::write(root_ / "calibration.yaml", "camera_01:\n  cam_height: 0.12\n");
  const auto parameters = Store({
    {"cam1.segmentation_bin_len", 0.5}, {"cam1_.segmentation_bin_len", 0.1},
    {"cam1.cam_height", 0.3}, {"ground_height_file", calibration}});
  LogCapture capture;
  ::testing::internal::CaptureStdout();
  GroundRemovalParams ground = getRemoveGroundPara(*parameters, 1);
  EXPECT_FLOAT_EQ(ground.segmentation_bin_len, 0.1F);
  getGroundHeightPara(*parameters, 1, ground);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "ground_height_file: " + calibration + "\n");
  const std::vector<std::string> lines = capture.Lines();  // printed from the values read
  EXPECT_EQ(lines[lines.size() - 2], "[INFO] cam_1:ground_height_file = " + calibration);
  EXPECT_EQ(lines.back(), "[INFO] cam_1_calibration_ground_params_.cam_height = 0.1200");

  // The file holds no entry for camera 2: its construction fails naming file and key.
  try {
    ::testing::internal::CaptureStdout();
    getGroundHeightPara(*parameters, 2, ground);
    ADD_FAILURE() << "camera 2 read a calibration it does not have";
  } catch (const std::runtime_error & e) {
    EXPECT_NE(std::string(e.what()).find("'" + calibration + "': key 'camera_02'"),
      std::string::npos) << e.what();
  }
  ::testing::internal::GetCapturedStdout();
}

TEST_F(CameraConfigTest, ClusterFileNameIsAlwaysAppendedToTheConfigDirectory)
{
  // The absolute name exists twice: as given, and below the configuration directory.
  const fs::path absolute = root_ / "elsewhere/cluster.yaml";
  PackagePrefix::write(absolute,
    "cluster_grid_step: 0.5\ncluster_grid_kernelSize: 9\ncluster_grid_th: 99\n");
  const std::string inside = PackagePrefix::write(config_dir_ + "/" + absolute.string(),
    "cluster_grid_step: 0.07\ncluster_grid_kernelSize: 5\ncluster_grid_th: 3\n");
  const auto parameters = Store({{"cluster_file", absolute.string()}});
  LogCapture capture;
  const auto cluster = getPointCloudClusterPara(*parameters, 1);
  EXPECT_EQ(std::make_tuple(cluster.cluster_grid_step, cluster.cluster_grid_kernelSize,
    cluster.cluster_grid_th), std::make_tuple(0.07F, 5, 3));
  EXPECT_EQ(capture.Lines().front(), "[INFO] cam_1:cluster_file = " + inside);
}

}  // namespace
}  // namespace nimbra::test
