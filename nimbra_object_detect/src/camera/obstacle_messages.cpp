#include "camera/obstacle_messages.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/color_palette.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "rclcdds/conversions/pcl_conversions.hpp"

namespace nimbra
{

namespace
{

std_msgs::msg::Header BaseHeader(double stamp)
{
  std_msgs::msg::Header header;
  header.stamp = orvix::perception::DoubleToStamp(stamp);
  header.frame_id = "base_footprint";
  return header;
}

bool Finite(const pcl::PointXYZ & p)
{
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

sensor_msgs::msg::PointCloud2 makeColouredCloud(
  const std::vector<ClassCloudInfo> & pieces, double stamp)
{
  pcl::PointCloud<pcl::PointXYZRGBA> coloured;
  for (const auto & piece : pieces) {
    const auto & rgb = ColorPaletteRow(static_cast<int64_t>(piece.type));
    for (const auto & point : piece.cloud.points) {
      pcl::PointXYZRGBA p;
      p.x = point.x;
      p.y = point.y;
      p.z = point.z;
      p.r = static_cast<uint8_t>(rgb[0]);
      p.g = static_cast<uint8_t>(rgb[1]);
      p.b = static_cast<uint8_t>(rgb[2]);
      p.a = 255;
      coloured.push_back(p);
    }
  }
  sensor_msgs::msg::PointCloud2 msg;
  rclcdds::pcl_conversions::toROSMsg(coloured, msg);
  msg.header = BaseHeader(stamp);
  return msg;
}

nimbra_protocol::msg::SemanticPointCloud makeSemanticPointCloud(
  const std::vector<ClassCloudInfo> & pieces, int32_t cam_id, const CameraFrameState * extent,
  double stamp, std::size_t & points_sent)
{
  nimbra_protocol::msg::SemanticPointCloud msg;
  msg.header = BaseHeader(stamp);
  msg.clusters.reserve(pieces.size());
  points_sent = 0;
  const bool front_only = cam_id == 2;
  for (const auto & piece : pieces) {
    pcl::PointCloud<pcl::PointXYZ> kept;
    const pcl::PointCloud<pcl::PointXYZ> * source = &piece.cloud;
    if (front_only) {
      kept.header = piece.cloud.header;
      for (const auto & p : piece.cloud.points) {
        if (static_cast<double>(p.x) >= kCamera2MinX) {
          kept.push_back(p);
        }
      }
      if (kept.empty()) {
        continue;
      }
      source = &kept;
    }
    nimbra_protocol::msg::SemanticCluster cluster;
    cluster.semantic_type = static_cast<int32_t>(piece.type);
    cluster.has_detection = piece.has_detection;
    rclcdds::pcl_conversions::toROSMsg(*source, cluster.cloud);
    points_sent += source->size();
    msg.clusters.push_back(std::move(cluster));
  }
  msg.camera_id = static_cast<uint8_t>(cam_id);
  if (extent != nullptr && extent->ready) {
    for (const auto & point : extent->extremes) {
      msg.camera_frame.insert(msg.camera_frame.end(), point.begin(), point.end());
    }
    if (front_only) {
      msg.camera_frame[0] = msg.camera_frame[3] = msg.camera_frame[6] = kCamera2ExtentX;
    }
  }
  return msg;
}

nimbra_protocol::msg::ObjectList makePeopleList(
  const std::vector<ClassCloudInfo> & pieces, int32_t cam_id, double stamp)
{
  nimbra_protocol::msg::ObjectList list;
  list.header = BaseHeader(stamp);
  list.source = "camera_" + std::to_string(cam_id);
  list.kind = nimbra_protocol::msg::ObjectList::KIND_PERSON;
  for (const auto & piece : pieces) {
    if (piece.type != semantic::PERSON) {
      continue;
    }
    nimbra_protocol::msg::ObjectInfo object;
    double sum_x = 0.0;
    double sum_y = 0.0;
    std::size_t used = 0;
    double height = 0.0;
    std::vector<cv::Point2f> footprint;
    footprint.reserve(piece.cloud.size());
    for (const auto & p : piece.cloud.points) {
      if (!piece.cloud.is_dense && !Finite(p)) {
        continue;
      }
      sum_x += p.x;
      sum_y += p.y;
      ++used;
      height = std::max(height, static_cast<double>(p.z));
      footprint.emplace_back(p.x, p.y);
    }
    object.pose.position.x = used > 0 ? sum_x / static_cast<double>(used) : 0.0;
    object.pose.position.y = used > 0 ? sum_y / static_cast<double>(used) : 0.0;
    object.pose.position.z = 0.0;
    object.pose.orientation.w = 1.0;
    if (!footprint.empty()) {
      std::vector<cv::Point2f> hull;
      cv::convexHull(footprint, hull, false, true);
      for (const auto & h : hull) {
        geometry_msgs::msg::Point32 vertex;
        vertex.x = h.x;
        vertex.y = h.y;
        vertex.z = 0.0F;
        object.polygon.push_back(vertex);
      }
    }
    object.bbox = {static_cast<double>(piece.detection.x1), static_cast<double>(piece.detection.y1),
      static_cast<double>(piece.detection.x2), static_cast<double>(piece.detection.y2)};
    object.count = 1;
    object.height = height;
    list.objects.push_back(std::move(object));
  }
  return list;
}

}  // namespace nimbra
