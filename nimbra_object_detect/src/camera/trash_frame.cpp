#include "camera/trash_frame.hpp"

#include <cmath>
#include <string>

#include "common/logger.hpp"
#include "common/semantic_type.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"

// The lines of this unit belong to the trash worker's journal: they name it as their source.
#define TRASH_DEBUG(...) LOG_DEBUG_IN("trashDetectionCallback", __VA_ARGS__)

namespace nimbra
{

void TrashFrameEstimator::split(
  const std::vector<Detection> & detections, std::vector<Detection> & trash_list,
  std::vector<Detection> & base_waiting_list) const
{
  const int32_t cam_id = rules_.cam_id;
  for (const auto & detection : detections) {
    const std::string name = semantic::SemanticTypeName(detection.type);
    TRASH_DEBUG("cam_{}, class_id={}, class_name={}, score={}", cam_id,
      static_cast<int32_t>(detection.type), name, detection.score);
    if (rules_.trash_classes.count(static_cast<int32_t>(detection.type)) > 0) {
      trash_list.push_back(detection);
      TRASH_DEBUG("cam_{}, trash, class_name={}", cam_id, name);
    } else if (detection.type == semantic::BASE || detection.type == semantic::WAITING_BENCH) {
      base_waiting_list.push_back(detection);
      TRASH_DEBUG("cam_{}, base_or_waiting, class_name={}", cam_id, name);
    }
  }
  TRASH_DEBUG("cam_{}, trash size={}, base_waiting size={}", cam_id, trash_list.size(),
    base_waiting_list.size());
}

bool TrashFrameEstimator::restsOnBaseOrBench(
  const Detection & trash, const std::vector<Detection> & base_waiting_list) const
{
  bool on_obstacle = false;
  for (const auto & b : base_waiting_list) {
    const float iou = orvix::perception::boxIou(
      static_cast<float>(trash.x1), static_cast<float>(trash.y1), static_cast<float>(trash.x2),
      static_cast<float>(trash.y2), static_cast<float>(b.x1), static_cast<float>(b.y1),
      static_cast<float>(b.x2), static_cast<float>(b.y2), false);
    TRASH_DEBUG("cam_{}, iou={}, trash_mask_iou_v1={}", rules_.cam_id, iou,
      rules_.trash_mask_iou_v1);
    if (iou > rules_.trash_mask_iou_v1) {
      TRASH_DEBUG("cam_{} : trash={} is above obstacle={}", rules_.cam_id,
        semantic::SemanticTypeName(trash.type), semantic::SemanticTypeName(b.type));
      on_obstacle = true;
    }
  }
  return on_obstacle;
}

TrashFrameResult TrashFrameEstimator::estimate(
  const std::vector<Detection> & trash_list, const std::vector<Detection> & base_waiting_list,
  const cv::Mat & depth_m, const TrashCamera & camera, const Eigen::Matrix4f & cam_to_map,
  const std::map<semantic::SemanticType, std::pair<double, double>> & height_ranges)
{
  const int32_t cam_id = rules_.cam_id;
  TrashFrameResult result;
  pcl::PointCloud<pcl::PointXYZ> cloud;
  for (const auto & original : trash_list) {
    const std::string name = semantic::SemanticTypeName(original.type);
    // Detections live in the colour image; box and mask are mapped onto the depth image.
    Detection detection;
    if (!mapDetectionToImage(original, camera.width, camera.height, detection)) {
      LOG_WARN_IN("trashDetectionCallback",
        "cam_{0:d} trash {1:s} has a mask that cannot be mapped to the depth image", cam_id, name);
      continue;
    }
    if (trashTouchesBorder(detection, rules_.bbox_edge_threshold, camera.width, camera.height)) {
      TRASH_DEBUG("cam_{}, trash bbox except, thus abandoned!", cam_id);
      continue;
    }
    trashInstanceCloud(depth_m, detection, camera, cloud);
    if (cloud.size() < kMinTrashPosePoints) {
      TRASH_DEBUG("cam_{}, Too few points to estimate trash pose, thus abandoned!", cam_id);
      continue;
    }
    const Eigen::Vector3f centroid = trashCentroid(cloud);
    const Eigen::Vector4f base = camera.cam_to_base * centroid.homogeneous();
    if (base.x() > rules_.trash_distance_threshold + 0.5F) {
      TRASH_DEBUG("cam_{}, trash cloud position {} is out of range, thus abandoned!", cam_id,
        base.x());
      continue;
    }
    bool trash_use_status = restsOnBaseOrBench(original, base_waiting_list);
    if (!trash_use_status) {
      const auto band = height_ranges.find(original.type);
      if (band == height_ranges.end()) {
        if (warned_missing_height_.insert(static_cast<int32_t>(original.type)).second) {
          LOG_WARN_IN("trashDetectionCallback",
            "cam_{0:d} trash class {1:s} has no height range in the model height file; its "
            "detections are not used", cam_id, name);
        }
      } else if (base.z() < band->second.second) {
        TRASH_DEBUG("cam_{} : trash={} is above ground", cam_id, name);
        trash_use_status = true;
      }
    }
    TRASH_DEBUG("cam_{} : trash_use_status={}", cam_id, trash_use_status);
    const Eigen::Vector4f map = cam_to_map * centroid.homogeneous();
    const std::vector<float> size = ComputeWasteSize3D(cloud, camera.cam_to_base);
    if (size[0] * size[1] < rules_.min_trash_area) {
      TRASH_DEBUG("cam_{} : trash area too small, filterd!", cam_id);
      continue;
    }
    orvix::perception::WasteObservation observation;
    observation.x = map.x();
    observation.y = map.y();
    observation.z = map.z();
    observation.distance = centroid.norm();
    observation.type = static_cast<int32_t>(original.type);
    observation.size = size;
    if (trash_use_status) {
      result.observations.push_back(observation);
    } else if (cam_id == 1 && !result.announced && original.type == semantic::BOTTLE &&
      announce(observation, name))
    {
      result.announced = observation;
    }
  }
  return result;
}

bool TrashFrameEstimator::announce(
  const orvix::perception::WasteObservation & observation, const std::string & name)
{
  const int32_t cam_id = rules_.cam_id;
  TRASH_DEBUG("cam_{} : trash={} not in roi", cam_id, name);
  for (const auto & earlier : broadcast_history_) {
    const double map_dis = std::hypot(observation.x - earlier.x, observation.y - earlier.y);
    if (map_dis < rules_.no_clean_trash_map_dis_th) {
      TRASH_DEBUG("cam_{} : map_dis < no_clean_trash_map_dis_th_", cam_id);
      return false;
    }
  }
  LOG_INFO_IN("trashDetectionCallback", "cam_{} : trash = {} not in roi and trash broadcast",
    cam_id, name);
  broadcast_history_.push_back(observation);
  return true;
}

}  // namespace nimbra
