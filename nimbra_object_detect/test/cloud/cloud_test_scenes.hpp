// Constructed depth images, pixels, masks and detections shared by the cloud tests.
#pragma once

#include <Eigen/Core>
#include <opencv2/core.hpp>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <sensor_msgs/msg/image.hpp>

#include <array>
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
/// encoding's stored unit (rounded to integer types); `padding` extra bytes end every row.
sensor_msgs::msg::Image makeDepthMessage(
  int width, int height, const std::string & encoding,
  const std::function<double(int u, int v)> & value, int padding = 0);

/// @brief Transform from a forward-looking optical frame (z ahead, x right, y down) mounted at
/// (x, y, z) metres to the base frame (x ahead, y left, z up).
Eigen::Matrix4f forwardCameraToBase(float x, float y, float z);

/// @brief The camera-frame point seen at integer pixel (u, v) at depth `z`.
pcl::PointXYZ pointAtPixel(const CameraIntrinsics & k, int u, int v, float z);

/// @brief A CV_8UC1 mask of `size` set inside the rectangle (columns u0..u1, rows v0..v1).
cv::Mat rectangleMask(cv::Size size, int u0, int u1, int v0, int v1);

/// @brief A detection of `type` whose mask is `mask` and whose box is the mask's support.
Detection makeDetection(semantic::SemanticType type, const cv::Mat & mask, float score = 0.9F);

/// @brief The (x, y, z) of every point in order, for whole-cloud comparisons.
std::vector<std::array<float, 3>> coordinates(const PointCloud & cloud);

}  // namespace nimbra::test
