// Messages built from the labelled pieces of one frame: coloured inspection clouds, semantic
// obstacle clouds and the people list. Free of DDS.
#pragma once

#include <cstdint>
#include <vector>

#include <nimbra_protocol/msg/object_list.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "common/camera_frame.hpp"
#include "common/class_cloud_info.hpp"

namespace nimbra
{

/// Points with x below this are left out of camera 2's semantic clouds, metres.
constexpr double kCamera2MinX = 0.6;
/// x sent for the first three view-extent points of camera 2, metres.
constexpr float kCamera2ExtentX = 0.2F;

/// @brief x y z + rgba cloud of every point of every piece, coloured by the piece's type.
sensor_msgs::msg::PointCloud2 makeColouredCloud(
  const std::vector<ClassCloudInfo> & pieces, double stamp);

/// @brief The semantic obstacle cloud of one group (camera 2 keeps only points with x >= 0.6).
/// @param extent  the camera's view-extent record; its extremes are sent only when it is ready
/// @param points_sent  receives the number of points put in
nimbra_protocol::msg::SemanticPointCloud makeSemanticPointCloud(
  const std::vector<ClassCloudInfo> & pieces, int32_t cam_id, const CameraFrameState * extent,
  double stamp, std::size_t & points_sent);

/// @brief One object per PERSON piece: centroid on the floor, convex hull, box, count, height.
nimbra_protocol::msg::ObjectList makePeopleList(
  const std::vector<ClassCloudInfo> & pieces, int32_t cam_id, double stamp);

}  // namespace nimbra
