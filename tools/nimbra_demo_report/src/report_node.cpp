#include "report_node.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/frame_stamp.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/qos.hpp"

namespace nimbra_demo_report
{

namespace
{

constexpr int kStatic = 0;
constexpr int kDynamic = 1;
constexpr int kCoffee = 2;
constexpr size_t kMaxMapPoints = 400000;
/// Obstacle points this close to the floor are within the ground removal's own tolerance.
constexpr double kLowPointM = 0.05;

double StampSeconds(const builtin_interfaces::msg::Time & stamp)
{
  return static_cast<double>(stamp.sec) + static_cast<double>(stamp.nanosec) * 1e-9;
}

double WallSeconds()
{
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

nimbra_demo_scene::DemoWorld::Params WorldParams(int64_t seed)
{
  nimbra_demo_scene::DemoWorld::Params p;
  p.seed = static_cast<uint32_t>(seed);
  return p;
}

double Ms(double us) {return us / 1000.0;}

/// Colour (BGR) of a semantic type for the bird's-eye view: the palette colour of its class.
cv::Scalar TypeColour(int type)
{
  for (const auto & row : nimbra_demo_scene::demoPalette()) {
    if (!row.semantic_class.empty() && semanticTypeOf(row.semantic_class) == type) {
      return cv::Scalar(row.colour.b, row.colour.g, row.colour.r);
    }
  }
  return cv::Scalar(70, 70, 70);
}

}  // namespace

ReportNode::ReportNode()
: rclcdds::Node("demo_report"),
  truth_(WorldParams(declare_parameter<int64_t>("seed", 42)),
    declare_parameter<double>("rate_hz", 10.0), declare_parameter<double>("start_s", 0.0))
{
  duration_s_ = declare_parameter<double>("duration_s", 20.0);
  cameras_ = static_cast<int>(declare_parameter<int64_t>("cameras", 2));
  out_dir_ = declare_parameter<std::string>("out_dir", "/tmp/nimbra_demo");
  node_log_ = declare_parameter<std::string>("node_log", "");
  node_pid_ = declare_parameter<int64_t>("node_pid", 0);
  check_ = declare_parameter<bool>("check", false);
  bound_overrides_ = declare_parameter<std::vector<std::string>>(
    "bounds", std::vector<std::string>{""});
  rate_hz_ = get_parameter("rate_hz").as_double();
  if (cameras_ < 1 || cameras_ > 2) {
    throw std::invalid_argument("cameras must be 1 or 2");
  }

  const rclcdds::QoS reliable = rclcdds::QoS(10);
  for (int c = 1; c <= cameras_; ++c) {
    cams_[c];
    const std::string p = "/cam" + std::to_string(c) + "_";
    subscriptions_.push_back(create_subscription<sensor_msgs::msg::CameraInfo>(
        "/camera_0" + std::to_string(c) + "/depth/camera_info", reliable,
        [this, c](const sensor_msgs::msg::CameraInfo & m) {onCameraInfo(c, m);}));
    const char * groups[3] = {"static", "dynamic", "coffee"};
    for (int g = 0; g < 3; ++g) {
      subscriptions_.push_back(create_subscription<nimbra_protocol::msg::SemanticPointCloud>(
          p + groups[g] + "_obstacle_cloud", reliable,
          [this, c, g](const nimbra_protocol::msg::SemanticPointCloud & m) {onSemantic(c, g, m);}));
    }
    subscriptions_.push_back(create_subscription<sensor_msgs::msg::PointCloud2>(
        p + "obstacle_cloud", reliable,
        [this, c](const sensor_msgs::msg::PointCloud2 & m) {onDebugCloud(c, false, m);}));
    subscriptions_.push_back(create_subscription<sensor_msgs::msg::PointCloud2>(
        p + "ground_cloud", reliable,
        [this, c](const sensor_msgs::msg::PointCloud2 & m) {onDebugCloud(c, true, m);}));
    subscriptions_.push_back(create_subscription<nimbra_protocol::msg::ObjectList>(
        p + "people_info", reliable,
        [this, c](const nimbra_protocol::msg::ObjectList & m) {onPeople(c, m);}));
    subscriptions_.push_back(create_subscription<sensor_msgs::msg::Image>(
        p + "detect_bbox_image", reliable,
        [this, c](std::shared_ptr<sensor_msgs::msg::Image> m) {cams_[c].last_detection = m;}));
  }
  subscriptions_.push_back(create_subscription<nimbra_protocol::msg::DetectedWastes>(
      "/detected_wastes", reliable,
      [this](const nimbra_protocol::msg::DetectedWastes & m) {onWastes(m);}));

  started_ = std::chrono::steady_clock::now();
  rss_start_mib_ = rssMiB();
  cpu_start_s_ = cpuSeconds();
  progress_timer_ = create_wall_timer(std::chrono::seconds(1), [this] {progress();});
}

uint64_t ReportNode::frameOf(const builtin_interfaces::msg::Time & stamp)
{
  const double s = StampSeconds(stamp);
  const double near = have_frame_ ?
    static_cast<double>(last_frame_) + (s - last_stamp_s_) * rate_hz_ : 0.0;
  const uint64_t frame = nimbra_demo_scene::frameFromStamp(s, near);
  have_frame_ = true;
  last_frame_ = frame;
  last_stamp_s_ = s;
  max_frame_ = std::max(max_frame_, frame);
  truth_.setFrame(frame);
  return frame;
}

void ReportNode::onCameraInfo(int camera, const sensor_msgs::msg::CameraInfo & msg)
{
  (void)msg;
  ++cams_[camera].published;
}

void ReportNode::onSemantic(
  int camera, int group, const nimbra_protocol::msg::SemanticPointCloud & msg)
{
  const uint64_t frame = frameOf(msg.header.stamp);
  FrameTally & tally = frames_[{camera, frame}];
  tally.scene_t = truth_.sceneTime();
  if (group == kStatic) {
    CameraStats & cam = cams_[camera];
    ++cam.processed;
    cam.latency_s.push_back(WallSeconds() - StampSeconds(msg.header.stamp));
    tally.static_seen = true;
    robot_path_.push_back(truth_.mapToBase().translation().head<2>());
  } else if (group == kDynamic) {
    tally.dynamic_seen = true;
  }
  for (const auto & cluster : msg.clusters) {
    const std::vector<Eigen::Vector3d> points = cloudPoints(cluster.cloud);
    if (points.empty()) {
      continue;
    }
    ClassTally & ct = classes_[cluster.semantic_type];
    ++ct.pieces;
    ct.points += points.size();
    for (const Eigen::Vector3d & p : points) {
      const Eigen::Vector3d map_p = truth_.mapToBase() * p;
      if (map_points_.size() < kMaxMapPoints) {
        map_points_.push_back({map_p.head<2>().cast<float>(), group, cluster.semantic_type});
      }
      if (group == kCoffee) {
        continue;
      }
      ++points_total_;
      const uint16_t id = truth_.objectAtMap(map_p);
      if (id == nimbra_demo_scene::kNoObject) {
        ++points_unmatched_;
        continue;
      }
      const auto & object = truth_.object(id);
      ObjectTally & ot = objects_seen_[id];
      (group == kDynamic ? ot.in_dynamic : ot.in_static) += 1;
      if (classMatches(object, cluster.semantic_type)) {
        ++points_correct_;
      }
      if (object.name == "person_walking") {
        ++person_walk_total_;
        person_walk_dynamic_ += group == kDynamic ? 1 : 0;
      } else if (object.name == "cart") {
        (group == kDynamic ? tally.cart_dynamic : tally.cart_static) += 1;
      } else if (object.kind != nimbra_demo_scene::SurfaceKind::kPerson) {
        ++still_total_;
        still_dynamic_ += group == kDynamic ? 1 : 0;
      }
    }
  }
}

void ReportNode::onDebugCloud(int camera, bool ground, const sensor_msgs::msg::PointCloud2 & msg)
{
  (void)camera;
  frameOf(msg.header.stamp);
  for (const Eigen::Vector3d & p : cloudPoints(msg)) {
    const uint16_t id = truth_.objectAt(p);
    if (id == nimbra_demo_scene::kNoObject) {
      continue;
    }
    const Role role = roleOf(truth_.object(id));
    ObjectTally & ot = objects_seen_[id];
    (ground ? ot.removed : ot.kept) += 1;
    if (role == Role::kFloor) {
      (ground ? floor_in_ground_ : floor_in_obstacles_) += 1;
    } else if (role == Role::kObstacle) {
      (ground ? obstacle_in_ground_ : obstacle_in_obstacles_) += 1;
      if (ground && (truth_.mapToBase() * p).z() < kLowPointM) {
        ++obstacle_in_ground_low_;
      }
    }
  }
}

void ReportNode::onPeople(int camera, const nimbra_protocol::msg::ObjectList & msg)
{
  frameOf(msg.header.stamp);
  CameraStats & cam = cams_[camera];
  ++cam.people_messages;
  for (const auto & object : msg.objects) {
    ++cam.people_seen;
    const Eigen::Vector3d map_p =
      truth_.mapToBase() * Eigen::Vector3d(object.pose.position.x, object.pose.position.y, 0.0);
    double best = 1e9;
    Eigen::Vector2d offset = Eigen::Vector2d::Zero();
    for (const auto & placement : truth_.placements()) {
      if (truth_.object(placement.id).kind == nimbra_demo_scene::SurfaceKind::kPerson) {
        const double d = (placement.map_centre.head<2>() - map_p.head<2>()).norm();
        if (d < best) {
          best = d;
          offset = Eigen::Vector2d(object.pose.position.x, object.pose.position.y) -
            placement.base_centre.head<2>();
        }
      }
    }
    if (best < 1.0) {
      people_errors_m_.push_back(best);
      people_offset_sum_ += offset;
      // Signed error along the walking person's motion (it walks along map y).
      const auto & walker = truth_.world().object("person_walking");
      for (const auto & placement : truth_.placements()) {
        if (placement.id == walker.id &&
          (placement.map_centre.head<2>() - map_p.head<2>()).norm() == best)
        {
          const double y_now = placement.map_centre.y();
          double y_next = y_now;
          for (const auto & later : truth_.world().placementsAt(truth_.sceneTime() + 0.05)) {
            if (later.id == walker.id) {
              y_next = later.map_centre.y();
            }
          }
          const double direction = y_next >= y_now ? 1.0 : -1.0;
          people_along_motion_.push_back(direction * (map_p.y() - y_now));
        }
      }
    } else {
      ++people_false_;
    }
    std::vector<Eigen::Vector2d> polygon;
    for (const auto & corner : object.polygon) {
      polygon.push_back((truth_.mapToBase() * Eigen::Vector3d(corner.x, corner.y, 0.0)).head<2>());
    }
    if (people_polygons_.size() < 5000 && !polygon.empty()) {
      people_polygons_.push_back(polygon);
    }
  }
}

void ReportNode::onWastes(const nimbra_protocol::msg::DetectedWastes & msg)
{
  const size_t n = std::min(msg.ids.size(), msg.poses.size());
  for (size_t i = 0; i < n; ++i) {
    const Eigen::Vector2d xy(msg.poses[i].position.x, msg.poses[i].position.y);
    WasteSeen seen;
    seen.map_xy = xy;
    seen.error_m = 1e9;
    for (const auto & placement : truth_.placements()) {
      if (roleOf(truth_.object(placement.id)) == Role::kLitter) {
        const double d = (placement.map_centre.head<2>() - xy).norm();
        if (d < seen.error_m) {
          seen.error_m = d;
          seen.nearest = truth_.object(placement.id).name;
        }
      }
    }
    wastes_[msg.ids[i]] = seen;
  }
}

void ReportNode::progress()
{
  const double elapsed =
    std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  std::string line;
  char buffer[256];
  std::snprintf(buffer, sizeof(buffer), "[%5.1f s]", elapsed);
  line = buffer;
  for (auto & [c, cam] : cams_) {
    const uint64_t recent = cam.processed - cam.last_progress_processed;
    cam.last_progress_processed = cam.processed;
    std::snprintf(buffer, sizeof(buffer),
      " | cam%d: %4llu published, %4llu processed, now %4.1f/s", c,
      static_cast<unsigned long long>(cam.published),
      static_cast<unsigned long long>(cam.processed), static_cast<double>(recent));
    line += buffer;
  }
  std::snprintf(buffer, sizeof(buffer), " | points checked %llu, wastes %zu",
    static_cast<unsigned long long>(points_total_), wastes_.size());
  line += buffer;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (elapsed >= duration_s_) {
    progress_timer_->cancel();
    finish();
  }
}

double ReportNode::cpuSeconds() const
{
  if (node_pid_ <= 0) {
    return -1.0;
  }
  std::ifstream stat("/proc/" + std::to_string(node_pid_) + "/stat");
  std::string text;
  std::getline(stat, text);
  // Fields after the command name (which may hold spaces) end with ')'.
  const size_t close = text.rfind(')');
  if (close == std::string::npos) {
    return -1.0;
  }
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double utime = -1.0, stime = -1.0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) {
      utime = std::atof(field.c_str());
    } else if (i == 15) {
      stime = std::atof(field.c_str());
    }
  }
  const long ticks = sysconf(_SC_CLK_TCK);
  return utime < 0.0 || stime < 0.0 || ticks <= 0 ? -1.0 : (utime + stime) / ticks;
}

double ReportNode::rssMiB() const
{
  if (node_pid_ <= 0) {
    return -1.0;
  }
  std::ifstream status("/proc/" + std::to_string(node_pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::atof(line.c_str() + 6) / 1024.0;
    }
  }
  return -1.0;
}

std::vector<Figure> ReportNode::figures() const
{
  std::vector<Figure> out;
  auto pct = [](uint64_t a, uint64_t b) {return 100.0 * static_cast<double>(a) / static_cast<double>(b);};
  Figure f = makeFigure("class_accuracy", "static+dynamic points carrying their object's class",
      95.0, true, "%");
  f.measured = points_total_ > 0;
  f.value = f.measured ? pct(points_correct_, points_total_) : 0.0;
  out.push_back(f);
  f = makeFigure("floor_as_obstacle", "floor points published as obstacles / floor points",
      1.0, false, "%");
  f.measured = floor_in_obstacles_ + floor_in_ground_ > 0;
  f.value = f.measured ? pct(floor_in_obstacles_, floor_in_obstacles_ + floor_in_ground_) : 0.0;
  out.push_back(f);
  f = makeFigure("obstacle_lost", "obstacle points removed as ground / obstacle points",
      2.0, false, "%");
  f.measured = obstacle_in_ground_ + obstacle_in_obstacles_ > 0;
  f.value = f.measured ?
    pct(obstacle_in_ground_, obstacle_in_ground_ + obstacle_in_obstacles_) : 0.0;
  out.push_back(f);
  f = makeFigure("walking_person_dynamic", "walking person's points in the dynamic group",
      90.0, true, "%");
  f.measured = person_walk_total_ > 0;
  f.value = f.measured ? pct(person_walk_dynamic_, person_walk_total_) : 0.0;
  out.push_back(f);
  // The cart: frames (of either camera) at least 0.5 s after it was first seen whose cart
  // points are mostly in the dynamic group. The node may leave out an empty dynamic cloud, so a
  // frame counts once its static cloud has arrived.
  double first = -1.0;
  for (const auto & [key, t] : frames_) {
    if (t.static_seen && t.cart_static + t.cart_dynamic >= 5 &&
      (first < 0.0 || t.scene_t < first))
    {
      first = t.scene_t;
    }
  }
  uint64_t cart_frames = 0, cart_dynamic_frames = 0;
  for (const auto & [key, t] : frames_) {
    if (first >= 0.0 && t.static_seen && t.cart_static + t.cart_dynamic >= 5 &&
      t.scene_t >= first + 0.5)
    {
      ++cart_frames;
      cart_dynamic_frames += t.cart_dynamic > t.cart_static ? 1 : 0;
    }
  }
  f = makeFigure("cart_dynamic_frames", "frames (after 0.5 s in view) with the cart dynamic",
      90.0, true, "%");
  f.measured = cart_frames > 0;
  f.value = f.measured ? pct(cart_dynamic_frames, cart_frames) : 0.0;
  out.push_back(f);
  f = makeFigure("still_in_dynamic", "points of still objects in the dynamic group", 1.0, false,
      "%");
  f.measured = still_total_ > 0;
  f.value = f.measured ? pct(still_dynamic_, still_total_) : 0.0;
  out.push_back(f);
  f = makeFigure("people_centroid_p95", "people centroid error, 95th percentile", 0.2, false, "m");
  f.measured = !people_errors_m_.empty();
  f.value = f.measured ? quantile(people_errors_m_, 0.95) : 0.0;
  out.push_back(f);
  std::vector<double> waste_errors;
  uint64_t false_wastes = 0;
  for (const auto & [id, w] : wastes_) {
    if (w.error_m > 0.25) {
      ++false_wastes;
    } else {
      waste_errors.push_back(w.error_m);
    }
  }
  f = makeFigure("litter_error_max", "tracked litter position error, largest", 0.05, false, "m");
  f.measured = !waste_errors.empty();
  f.value = f.measured ? *std::max_element(waste_errors.begin(), waste_errors.end()) : 0.0;
  out.push_back(f);
  f = makeFigure("false_wastes", "tracked wastes 0.25 m or more from any litter", 0.0, false, "");
  f.measured = true;
  f.value = static_cast<double>(false_wastes);
  out.push_back(f);
  return out;
}

void ReportNode::writePictures(std::vector<std::string> & written)
{
  const std::string mkdir = "mkdir -p '" + out_dir_ + "'";
  if (out_dir_.find('\'') != std::string::npos || std::system(mkdir.c_str()) != 0) {
    std::fprintf(stderr, "demo_report: cannot create %s\n", out_dir_.c_str());
    return;
  }
  for (const auto & [c, cam] : cams_) {
    const auto & img = cam.last_detection;
    if (!img || img->width == 0 || img->height == 0 ||
      static_cast<uint64_t>(img->step) * img->height > img->data.size() ||
      static_cast<uint64_t>(img->step) < static_cast<uint64_t>(img->width) * 3 ||
      (img->encoding != "rgb8" && img->encoding != "bgr8"))
    {
      continue;
    }
    cv::Mat view(static_cast<int>(img->height), static_cast<int>(img->width), CV_8UC3,
      const_cast<uint8_t *>(img->data.data()), img->step);
    cv::Mat bgr;
    if (img->encoding == "rgb8") {
      cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR);
    } else {
      bgr = view.clone();
    }
    const std::string path = out_dir_ + "/cam" + std::to_string(c) + "_detections.png";
    if (cv::imwrite(path, bgr)) {
      written.push_back(path);
    }
  }

  // Bird's-eye view of the corridor, map frame, 100 px/m, x to the right, y up.
  const double s = 100.0, x0 = -1.0, x1 = 12.5, y0 = -1.8, y1 = 1.8;
  const int legend = 70;
  cv::Mat map(static_cast<int>((y1 - y0) * s) + legend, static_cast<int>((x1 - x0) * s), CV_8UC3,
    cv::Scalar(235, 235, 235));
  auto px = [&](double x, double y) {
      return cv::Point(static_cast<int>(std::lround((x - x0) * s)),
               static_cast<int>(std::lround((y1 - y) * s)));
    };
  for (double x = 0.0; x <= x1; x += 1.0) {
    cv::line(map, px(x, y0), px(x, y1), cv::Scalar(215, 215, 215), 1);
    cv::putText(map, std::to_string(static_cast<int>(x)) + " m", px(x + 0.03, y0 + 0.05),
      cv::FONT_HERSHEY_PLAIN, 0.8, cv::Scalar(150, 150, 150), 1);
  }
  for (const auto & placement : truth_.placements()) {
    const auto & object = truth_.object(placement.id);
    const auto colour = nimbra_demo_scene::paletteEntry(object.name).colour;
    const cv::Scalar bgr(colour.b, colour.g, colour.r);
    const auto & e = placement.map_extent;
    cv::rectangle(map, px(e.min().x(), e.max().y()), px(e.max().x(), e.min().y()), bgr, 2);
    cv::putText(map, object.name, px(e.min().x(), e.max().y()) + cv::Point(2, -3),
      cv::FONT_HERSHEY_PLAIN, 0.8, cv::Scalar(60, 60, 60), 1);
  }
  for (const double wy : {-1.6, 1.6}) {
    cv::line(map, px(x0, wy), px(x1, wy), cv::Scalar(90, 90, 90), 3);
  }
  for (size_t i = 1; i < robot_path_.size(); ++i) {
    cv::line(map, px(robot_path_[i - 1].x(), robot_path_[i - 1].y()),
      px(robot_path_[i].x(), robot_path_[i].y()), cv::Scalar(0, 160, 0), 2);
  }
  for (const MapPoint & p : map_points_) {
    cv::Scalar colour = p.group == kDynamic ? cv::Scalar(0, 0, 230) :
      p.group == kCoffee ? cv::Scalar(20, 70, 140) : TypeColour(p.type);
    const cv::Point at = px(p.xy.x(), p.xy.y());
    if (at.x >= 0 && at.y >= 0 && at.x < map.cols && at.y < map.rows - legend) {
      cv::circle(map, at, p.group == kDynamic ? 2 : 1, colour, cv::FILLED);
    }
  }
  for (const auto & polygon : people_polygons_) {
    std::vector<cv::Point> pts;
    for (const auto & v : polygon) {
      pts.push_back(px(v.x(), v.y()));
    }
    cv::polylines(map, pts, true, cv::Scalar(200, 60, 0), 1);
  }
  for (const auto & [id, w] : wastes_) {
    const cv::Point at = px(w.map_xy.x(), w.map_xy.y());
    cv::circle(map, at, 7, cv::Scalar(0, 140, 255), 2);
    cv::putText(map, "waste " + std::to_string(id), at + cv::Point(8, 4),
      cv::FONT_HERSHEY_PLAIN, 0.9, cv::Scalar(0, 90, 200), 1);
  }
  const int ly = map.rows - legend + 18;
  cv::putText(map, "outlines: ground truth at the last frame (palette colours)   green line: robot path"
    "   dots: static points in their class colour (grey: no class)", cv::Point(10, ly),
    cv::FONT_HERSHEY_PLAIN, 0.9, cv::Scalar(40, 40, 40), 1);
  cv::putText(map, "red: dynamic points   brown: coffee (dangerous floor) points   blue polygons: people"
    "   orange rings: tracked wastes with their ids", cv::Point(10, ly + 20),
    cv::FONT_HERSHEY_PLAIN, 0.9, cv::Scalar(40, 40, 40), 1);
  const std::string path = out_dir_ + "/birds_eye.png";
  if (cv::imwrite(path, map)) {
    written.push_back(path);
  }
}

void ReportNode::finish()
{
  const double rss_end = rssMiB();
  const double cpu_end = cpuSeconds();
  std::map<int, CameraLog> log;
  if (!node_log_.empty()) {
    std::ifstream in(node_log_);
    log = parseNodeLog(in);
  }
  std::printf("\n=============== summary (%.0f s, seed %lld, scene time %.1f..%.1f s) ===============\n",
    duration_s_, static_cast<long long>(get_parameter("seed").as_int()),
    get_parameter("start_s").as_double(), truth_.sceneTime());
  std::printf("%-5s %9s %9s %8s %-34s %6s | %-15s %-15s %-15s %-15s\n", "cam", "published",
    "processed", "dropped", "  (stale / malformed / not taken)", "rate", "callback ms",
    "traditional ms", "inference ms", "latency ms");
  std::printf("%-5s %9s %9s %8s %-34s %6s | %-15s %-15s %-15s %-15s\n", "", "", "", "", "",
    "1/s", "median  p95", "median  p95", "median  p95", "median  p95");
  for (const auto & [c, cam] : cams_) {
    const CameraLog & cl = log[c];
    auto stage = [&](const char * name, double q) {
        const auto it = cl.stage_us.find(name);
        return it == cl.stage_us.end() ? std::nan("") : Ms(quantile(it->second, q));
      };
    const uint64_t dropped = cam.published > cam.processed ? cam.published - cam.processed : 0;
    const uint64_t known = cl.stale_frames + cl.malformed_frames;
    char why[64];
    std::snprintf(why, sizeof(why), "  (%llu / %llu / %llu)",
      static_cast<unsigned long long>(cl.stale_frames),
      static_cast<unsigned long long>(cl.malformed_frames),
      static_cast<unsigned long long>(dropped > known ? dropped - known : 0));
    std::printf("cam%-2d %9llu %9llu %8llu %-34s %6.2f | %6.1f %7.1f  %6.1f %7.1f  %6.1f %7.1f  %6.0f %7.0f\n",
      c, static_cast<unsigned long long>(cam.published),
      static_cast<unsigned long long>(cam.processed), static_cast<unsigned long long>(dropped),
      why, static_cast<double>(cam.processed) / duration_s_, stage("<callback>", 0.5),
      stage("<callback>", 0.95), stage("<trad_method>", 0.5), stage("<trad_method>", 0.95),
      stage("<ai_method>", 0.5), stage("<ai_method>", 0.95),
      1000.0 * quantile(cam.latency_s, 0.5), 1000.0 * quantile(cam.latency_s, 0.95));
  }
  std::printf("(not taken: frames the node never started, its depth queue kept newer ones while busy;"
    " stage times from its debug log, wall time)\n");
  if (rss_start_mib_ >= 0.0) {
    std::printf("object_detect memory (RSS): %.1f MiB at start, %.1f MiB after the run\n",
      rss_start_mib_, rss_end);
  }
  uint64_t processed = 0;
  for (const auto & [c, cam] : cams_) {
    processed += cam.processed;
  }
  if (cpu_start_s_ >= 0.0 && cpu_end >= cpu_start_s_ && processed > 0) {
    std::printf("object_detect CPU time (all threads, user + system): %.1f s in %.0f s, %.0f ms per"
      " processed camera frame (inference included)\n", cpu_end - cpu_start_s_, duration_s_,
      1000.0 * (cpu_end - cpu_start_s_) / static_cast<double>(processed));
  }

  std::printf("\nobstacle pieces and points by class (static + dynamic + coffee groups)\n");
  std::printf("  %-16s %8s %10s\n", "class", "pieces", "points");
  for (const auto & [type, t] : classes_) {
    std::printf("  %-16s %8llu %10llu\n", semanticName(type).c_str(),
      static_cast<unsigned long long>(t.pieces), static_cast<unsigned long long>(t.points));
  }
  std::printf("\npoints per world object (debug clouds: kept after / removed by ground removal;"
    " published groups)\n  %-16s %9s %9s %9s %9s\n", "object", "kept", "removed", "static",
    "dynamic");
  for (const auto & [id, t] : objects_seen_) {
    std::printf("  %-16s %9llu %9llu %9llu %9llu\n", truth_.object(id).name.c_str(),
      static_cast<unsigned long long>(t.kept), static_cast<unsigned long long>(t.removed),
      static_cast<unsigned long long>(t.in_static), static_cast<unsigned long long>(t.in_dynamic));
  }
  std::printf("\npeople: ");
  for (const auto & [c, cam] : cams_) {
    std::printf("cam%d %llu in %llu messages; ", c, static_cast<unsigned long long>(cam.people_seen),
      static_cast<unsigned long long>(cam.people_messages));
  }
  std::printf("centroid error median %.3f m, max %.3f m (%zu matched, %llu with no person within 1 m)\n",
    quantile(people_errors_m_, 0.5), quantile(people_errors_m_, 1.0), people_errors_m_.size(),
    static_cast<unsigned long long>(people_false_));
  if (!people_errors_m_.empty()) {
    const Eigen::Vector2d mean = people_offset_sum_ / static_cast<double>(people_errors_m_.size());
    std::printf("  mean offset reported - true centre in base_footprint: forward %+.3f m, left %+.3f m"
      " (the node sees the near side of a person)\n", mean.x(), mean.y());
  }
  if (!people_along_motion_.empty()) {
    std::printf("  walking person, error along its motion: median %+.3f m (negative: behind it;"
      " 0.8 m/s x 0.1 s = 0.08 m per frame of lag)\n", quantile(people_along_motion_, 0.5));
  }
  std::printf("\nwastes tracked: %zu\n", wastes_.size());
  for (const auto & [id, w] : wastes_) {
    std::printf("  id %-4d at (%6.2f, %5.2f) nearest %-9s error %5.1f cm\n", id, w.map_xy.x(),
      w.map_xy.y(), w.nearest.c_str(), 100.0 * w.error_m);
  }
  std::printf("\npoints checked against the ground truth: %llu (%llu on no surface within 8 cm)\n",
    static_cast<unsigned long long>(points_total_),
    static_cast<unsigned long long>(points_unmatched_));
  std::printf("obstacle points removed as ground: %llu of %llu, %llu of them less than %.0f cm above"
    " the floor\n", static_cast<unsigned long long>(obstacle_in_ground_),
    static_cast<unsigned long long>(obstacle_in_ground_ + obstacle_in_obstacles_),
    static_cast<unsigned long long>(obstacle_in_ground_low_), 100.0 * kLowPointM);

  std::vector<Figure> figs = figures();
  for (const std::string & bad : relaxBounds(figs, bound_overrides_)) {
    std::printf("demo_report: bound override '%s' ignored (no such figure or not a number)\n",
      bad.c_str());
  }
  std::printf("\naccuracy against the ground truth\n");
  bool ok = true;
  for (const Figure & f : figs) {
    std::printf("  %s\n", figureLine(f).c_str());
    if (check_ && !f.meetsBound()) {
      ok = false;
      std::printf("  CHECK FAILED: %s%s\n", f.name.c_str(), f.measured ? "" : " (no data)");
    }
  }
  std::vector<std::string> written;
  writePictures(written);
  std::printf("\npictures:\n");
  for (const auto & p : written) {
    std::printf("  %s\n", p.c_str());
  }
  std::fflush(stdout);
  exit_status_ = ok ? 0 : 1;
  rclcdds::shutdown(get_context(), "demo_report: done");
}

}  // namespace nimbra_demo_report
