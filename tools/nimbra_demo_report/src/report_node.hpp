// demo_report: listens to object_detect on the demo world, prints a progress line a second and,
// after duration_s, the summary table, the accuracy figures against the world's ground truth
// and the paths of the pictures it wrote.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include <nimbra_protocol/msg/detected_wastes.hpp>
#include <nimbra_protocol/msg/object_list.hpp>
#include <nimbra_protocol/msg/semantic_point_cloud.hpp>
#include <sensor_msgs/msg/camera_info.hpp>
#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "cloud_points.hpp"
#include "figures.hpp"
#include "rclcdds/node.hpp"
#include "rclcdds/subscription.hpp"
#include "rclcdds/timer.hpp"
#include "truth.hpp"

namespace nimbra_demo_report
{

class ReportNode : public rclcdds::Node
{
public:
  ReportNode();
  /// Status the process should exit with once the context has shut down.
  int exitStatus() const {return exit_status_;}

private:
  /// Counts of one output group (static, dynamic, coffee) of a camera frame.
  struct FrameTally
  {
    bool static_seen{false};
    bool dynamic_seen{false};
    size_t cart_static{0};
    size_t cart_dynamic{0};
    double scene_t{0.0};
  };
  /// Per camera counters.
  struct CameraStats
  {
    uint64_t published{0};     ///< camera_info messages seen (one per published frame)
    uint64_t processed{0};     ///< static clouds seen (one per processed frame)
    uint64_t last_progress_processed{0};
    std::vector<double> latency_s;        ///< depth stamp to static cloud received, s
    uint64_t people_messages{0};
    uint64_t people_seen{0};
    sensor_msgs::msg::Image::SharedPtr last_detection;
  };
  struct ClassTally
  {
    uint64_t pieces{0};
    uint64_t points{0};
  };

  void onCameraInfo(int camera, const sensor_msgs::msg::CameraInfo & msg);
  void onSemantic(int camera, int group, const nimbra_protocol::msg::SemanticPointCloud & msg);
  void onDebugCloud(int camera, bool ground, const sensor_msgs::msg::PointCloud2 & msg);
  void onPeople(int camera, const nimbra_protocol::msg::ObjectList & msg);
  void onWastes(const nimbra_protocol::msg::DetectedWastes & msg);
  void progress();
  void finish();

  /// Frame number of a stamp and moves the truth there.
  uint64_t frameOf(const builtin_interfaces::msg::Time & stamp);
  std::vector<Figure> figures() const;
  void writePictures(std::vector<std::string> & written);
  double rssMiB() const;
  /// User + system CPU time of node_pid so far, s; -1 when unknown.
  double cpuSeconds() const;

  // parameters
  double rate_hz_{10.0};
  double duration_s_{20.0};
  int cameras_{2};
  std::string out_dir_;
  std::string node_log_;
  int64_t node_pid_{0};
  bool check_{false};
  std::vector<std::string> bound_overrides_;

  WorldTruth truth_;
  std::chrono::steady_clock::time_point started_;
  bool have_frame_{false};
  double last_stamp_s_{0.0};
  uint64_t last_frame_{0};
  uint64_t max_frame_{0};
  double rss_start_mib_{-1.0};
  double cpu_start_s_{-1.0};
  int exit_status_{0};

  std::map<int, CameraStats> cams_;
  std::map<std::pair<int, uint64_t>, FrameTally> frames_;
  std::map<int, ClassTally> classes_;
  /// Per world object: points after ground removal, removed as ground, static, dynamic.
  struct ObjectTally
  {
    uint64_t kept{0}, removed{0}, in_static{0}, in_dynamic{0};
  };
  std::map<uint16_t, ObjectTally> objects_seen_;  ///< by semantic type: static and dynamic pieces
  // accuracy tallies
  uint64_t points_total_{0}, points_correct_{0}, points_unmatched_{0};
  uint64_t floor_in_obstacles_{0}, floor_in_ground_{0};
  uint64_t obstacle_in_ground_{0}, obstacle_in_obstacles_{0}, obstacle_in_ground_low_{0};
  uint64_t person_walk_dynamic_{0}, person_walk_total_{0};
  uint64_t still_dynamic_{0}, still_total_{0};
  std::vector<double> people_errors_m_;
  Eigen::Vector2d people_offset_sum_{Eigen::Vector2d::Zero()};
  std::vector<double> people_along_motion_;
  uint64_t people_false_{0};
  double cart_first_seen_t_{-1.0};
  // wastes: id -> (error m, map position)
  struct WasteSeen
  {
    double error_m{0.0};
    std::string nearest;
    Eigen::Vector2d map_xy{Eigen::Vector2d::Zero()};
  };
  std::map<int, WasteSeen> wastes_;
  uint64_t waste_false_{0};
  std::vector<int> false_waste_ids_;
  // bird's-eye material, map frame
  struct MapPoint
  {
    Eigen::Vector2f xy;
    int group;   ///< 0 static, 1 dynamic, 2 coffee
    int type;
  };
  std::vector<MapPoint> map_points_;
  std::vector<std::vector<Eigen::Vector2d>> people_polygons_;
  std::vector<Eigen::Vector2d> robot_path_;

  std::vector<std::shared_ptr<rclcdds::SubscriptionBase>> subscriptions_;
  rclcdds::TimerBase::SharedPtr progress_timer_;
};

}  // namespace nimbra_demo_report
