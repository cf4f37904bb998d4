#include "tracker/waste_messages.hpp"

#include <chrono>

#include "tracker/waste_handling.hpp"

namespace orvix
{
namespace perception
{

namespace
{
constexpr const char * kMapFrame = "map";
constexpr const char * kMarkerNamespace = "tracker";
constexpr double kMarkerHalfSide = 0.01;       // [m]
constexpr double kMarkerLineWidth = 0.1;       // [m]
constexpr uint32_t kMarkerLifetimeNs = 100000000;  // 0.1 s

geometry_msgs::msg::Point MakePoint(double x, double y, double z)
{
  geometry_msgs::msg::Point point;
  point.x = x;
  point.y = y;
  point.z = z;
  return point;
}
}  // namespace

nimbra_protocol::msg::DetectedWastes BuildDetectedWastes(const std::vector<ConfirmedWaste> & wastes)
{
  nimbra_protocol::msg::DetectedWastes message;
  for (const ConfirmedWaste & waste : wastes) {
    geometry_msgs::msg::Pose pose;
    pose.position = MakePoint(waste.x, waste.y, waste.z);
    pose.orientation.w = 1.0;
    message.ids.push_back(waste.id);
    message.handle_types.push_back(waste.handle_code);
    message.poses.push_back(pose);
    message.distances.push_back(static_cast<double>(waste.distance));
  }
  if (!wastes.empty()) {
    message.header.frame_id = kMapFrame;
  }
  return message;
}

visualization_msgs::msg::MarkerArray BuildWasteMarkers(
  const std::vector<ConfirmedWaste> & wastes, const builtin_interfaces::msg::Time & stamp)
{
  visualization_msgs::msg::MarkerArray markers;
  markers.markers.reserve(wastes.size());
  for (const ConfirmedWaste & waste : wastes) {
    visualization_msgs::msg::Marker marker;
    marker.header.frame_id = kMapFrame;
    marker.header.stamp = stamp;
    marker.ns = kMarkerNamespace;
    marker.id = waste.id;
    marker.type = visualization_msgs::msg::Marker::LINE_STRIP;
    marker.action = visualization_msgs::msg::Marker::ADD;
    marker.pose.orientation.w = 1.0;
    marker.scale.x = kMarkerLineWidth;
    const bool base_takes_it = waste.handle_code <= kLastBaseHandleCode;
    marker.color.r = base_takes_it ? 1.0F : 0.0F;
    marker.color.g = base_takes_it ? 0.0F : 1.0F;
    marker.color.b = 0.0F;
    marker.color.a = 1.0F;
    marker.lifetime.sec = 0;
    marker.lifetime.nanosec = kMarkerLifetimeNs;
    const double h = kMarkerHalfSide;
    marker.points = {
      MakePoint(waste.x - h, waste.y - h, waste.z),
      MakePoint(waste.x - h, waste.y + h, waste.z),
      MakePoint(waste.x + h, waste.y + h, waste.z),
      MakePoint(waste.x + h, waste.y - h, waste.z),
      MakePoint(waste.x - h, waste.y - h, waste.z),
    };
    markers.markers.push_back(marker);
  }
  return markers;
}

builtin_interfaces::msg::Time SystemClockNow()
{
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  builtin_interfaces::msg::Time stamp;
  stamp.sec = static_cast<int32_t>(ns / 1000000000);
  stamp.nanosec = static_cast<uint32_t>(ns % 1000000000);
  return stamp;
}

}  // namespace perception
}  // namespace orvix
