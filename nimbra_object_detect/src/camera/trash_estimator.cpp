#include "camera/trash_estimator.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <limits>

#include "common/logger.hpp"

namespace nimbra
{

bool trashTouchesBorder(const Detection & d, int32_t edge, int32_t width, int32_t height)
{
  return d.x1 < edge || d.y1 < edge || d.x2 > width - edge || d.y2 > height - edge;
}

void trashInstanceCloud(
  const cv::Mat & depth_m, const Detection & d, const TrashCamera & camera,
  pcl::PointCloud<pcl::PointXYZ> & cloud)
{
  cloud.clear();
  if (depth_m.type() != CV_32FC1 || camera.fx == 0.0F || camera.fy == 0.0F) {
    return;
  }
  const bool masked = !d.mask.empty();
  if (masked && (d.mask.type() != CV_8UC1 || d.mask.size() != depth_m.size())) {
    return;
  }
  const int u_end = std::min(d.x2, depth_m.cols);
  const int v_end = std::min(d.y2, depth_m.rows);
  for (int u = std::max(d.x1, 0); u < u_end; ++u) {
    for (int v = std::max(d.y1, 0); v < v_end; ++v) {
      if (masked && d.mask.at<uint8_t>(v, u) == 0) {
        continue;
      }
      const float depth = depth_m.at<float>(v, u);
      if (!(depth > 0.0F && depth < camera.depth_max)) {
        continue;  // also drops NaN
      }
      cloud.push_back(pcl::PointXYZ(
          (static_cast<float>(u) - camera.cx) * depth / camera.fx,
          (static_cast<float>(v) - camera.cy) * depth / camera.fy, depth));
    }
  }
  cloud.width = static_cast<uint32_t>(cloud.size());
  cloud.height = 1;
  cloud.is_dense = true;
}

Eigen::Vector3f trashCentroid(const pcl::PointCloud<pcl::PointXYZ> & cloud)
{
  Eigen::Vector3f sum = Eigen::Vector3f::Zero();
  for (const auto & p : cloud.points) {
    sum += Eigen::Vector3f(p.x, p.y, p.z);
  }
  return cloud.empty() ? sum : Eigen::Vector3f(sum / static_cast<float>(cloud.size()));
}

std::vector<float> ComputeWasteSize3D(
  const pcl::PointCloud<pcl::PointXYZ> & cloud, const Eigen::Matrix4f & cam_to_base)
{
  std::vector<float> size{-1.0F, -1.0F, -1.0F};
  if (cloud.size() < kMinTrashSizePoints) {
    LOG_DEBUG("Too few points: {}", cloud.size());
    return size;
  }
  float min_z = std::numeric_limits<float>::max();
  float max_z = std::numeric_limits<float>::lowest();
  std::vector<cv::Point2f> footprint;
  footprint.reserve(cloud.size());
  for (const auto & p : cloud.points) {
    const Eigen::Vector4f base = cam_to_base * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
    min_z = std::min(min_z, base.z());
    max_z = std::max(max_z, base.z());
    footprint.emplace_back(base.x(), base.y());
  }
  const cv::RotatedRect rect = cv::minAreaRect(footprint);
  size[0] = std::max(rect.size.width, rect.size.height);
  size[1] = std::min(rect.size.width, rect.size.height);
  size[2] = max_z - min_z;
  return size;
}

}  // namespace nimbra
