// The rules of one trash frame, free of middleware: which detections are litter and which are a
// base or bench, and for each litter item the border, point-count, range, support, height and
// area tests, its map position and size, and the bottle announcement of camera 1.
#pragma once

#include <Eigen/Core>
#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "camera/trash_estimator.hpp"
#include "common/detection.hpp"
#include "tracker/waste_observation.hpp"

namespace nimbra
{

/// Fixed thresholds of one camera's trash frames.
struct TrashRules
{
  int32_t cam_id = 1;                     ///< camera number; only camera 1 announces bottles
  std::set<int32_t> trash_classes;        ///< semantic classes that are litter
  float trash_distance_threshold = 1.5F;  ///< items farther ahead than this + 0.5 are dropped, m
  int32_t bbox_edge_threshold = 5;        ///< boxes this close to the image border are dropped, px
  float trash_mask_iou_v1 = 0.7F;         ///< box overlap above which an item rests on a base or bench
  float no_clean_trash_map_dis_th = 0.03F;  ///< a bottle this close to an announced one is not announced, m
  float min_trash_area = 0.0004F;         ///< smallest length x width of an item, m^2
};

/// Outcome of one frame.
struct TrashFrameResult
{
  std::vector<orvix::perception::WasteObservation> observations;  ///< items for the tracker
  std::optional<orvix::perception::WasteObservation> announced;   ///< bottle to announce, if any
};

/// Applies the trash rules frame by frame; remembers the bottles it announced.
class TrashFrameEstimator
{
public:
  explicit TrashFrameEstimator(const TrashRules & rules) : rules_(rules) {}

  /// @brief Splits detections, in order, into litter and bases/benches; others are ignored.
  void split(
    const std::vector<Detection> & detections, std::vector<Detection> & trash_list,
    std::vector<Detection> & base_waiting_list) const;

  /// @brief Measures every litter item of the frame.
  /// @param depth_m  CV_32FC1 depth in metres; detections may come from an image of another size
  /// @param cam_to_map  camera -> map at the depth stamp
  /// @param height_ranges  height band per class; a litter class without one is not used
  TrashFrameResult estimate(
    const std::vector<Detection> & trash_list, const std::vector<Detection> & base_waiting_list,
    const cv::Mat & depth_m, const TrashCamera & camera, const Eigen::Matrix4f & cam_to_map,
    const std::map<semantic::SemanticType, std::pair<double, double>> & height_ranges);

  /// Every bottle announced so far, in order; never shrinks.
  const std::vector<orvix::perception::WasteObservation> & broadcastHistory() const
  {
    return broadcast_history_;
  }

private:
  bool restsOnBaseOrBench(
    const Detection & trash, const std::vector<Detection> & base_waiting_list) const;
  bool announce(const orvix::perception::WasteObservation & observation, const std::string & name);

  TrashRules rules_;
  std::vector<orvix::perception::WasteObservation> broadcast_history_;
  std::set<int32_t> warned_missing_height_;  ///< litter classes already reported without a band
};

}  // namespace nimbra
