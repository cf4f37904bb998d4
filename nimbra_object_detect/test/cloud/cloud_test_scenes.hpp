// Constructed depth images, clusters and masks shared by the cloud tests and benchmarks.
#pragma once

#include <Eigen/Core>
#include <opencv2/core.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <sensor_msgs/msg/image.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/ai_result.hpp"
#include "common/camera_intrinsics.hpp"

namespace nimbra::test
{

using PointCloud = pcl::PointCloud<pcl::PointXYZ>;

/// @brief A depth message of the given encoding whose pixel (u, v) holds `value(u, v)` in the
/// encoding's stored unit; `padding` extra bytes end every row.
sensor_msgs::msg::Image makeDepthMessage(
  int width, int height, const std::string & encoding,
  const std::function<double(int u, int v)> & value, int padding = 0);

/// @brief A 640 x 480 "16UC1" view of a corridor (floor, two walls, an end wall, a few holes)
/// seen by `corridorIntrinsics()`.
sensor_msgs::msg::Image makeCorridorDepth();

/// @brief Intrinsics of a 640 x 480 depth camera.
CameraIntrinsics corridorIntrinsics();

/// @brief Transform from a forward-looking optical frame (z ahead, x right, y down) mounted at
/// (x, y, z) metres to the base frame (x ahead, y left, z up).
Eigen::Matrix4f forwardCameraToBase(float x, float y, float z);

/// @brief The camera-frame point seen at integer pixel (u, v) at depth `z`.
pcl::PointXYZ pointAtPixel(const CameraIntrinsics & k, int u, int v, float z);

/// @brief Points seen at every pixel of the rectangle (columns u0..u1, rows v0..v1, inclusive)
/// at depth `z`, in row-major order, moved by `camera_to_base`.
PointCloud::Ptr clusterAtPixels(
  const CameraIntrinsics & k, int u0, int u1, int v0, int v1, float z,
  const Eigen::Matrix4f & camera_to_base);

/// @brief A CV_8UC1 mask of `size` set inside the rectangle (columns u0..u1, rows v0..v1).
cv::Mat rectangleMask(cv::Size size, int u0, int u1, int v0, int v1);

/// @brief A detection of `type` whose mask is `mask` and whose box is the mask's support.
Detection makeDetection(semantic::SemanticType type, const cv::Mat & mask, float score = 0.9F);

/// A synthetic labelling frame: clusters in the base frame and detections over them.
struct LabellingScene
{
  CameraIntrinsics intrinsics;            ///< depth intrinsics
  int width = 0;                          ///< depth width, pixels
  int height = 0;                         ///< depth height, pixels
  Eigen::Matrix4f camera_to_base;         ///< optical frame to base frame
  std::vector<PointCloud::Ptr> clusters;  ///< base-frame clusters
  AiResult ai_result;                     ///< detections of the frame
};

/// @brief `cluster_count` blob clusters spread over a 640 x 480 view and `detection_count`
/// detections, each mask covering one cluster's silhouette partly (seeded, reproducible).
LabellingScene makeLabellingScene(int cluster_count, int detection_count, unsigned seed);

}  // namespace nimbra::test
