#include "camera/frame_pairing.hpp"

#include <cmath>

#include "common/depth_image_view.hpp"
#include "nimbra_perception_libs/perception_utils.hpp"
#include "rclcdds/conversions/cv_bridge.hpp"

namespace nimbra
{

int nearestStampSlot(const std::vector<sensor_msgs::msg::Image> & ring, double depth_stamp)
{
  double best = depth_stamp;
  int index = -1;
  for (std::size_t slot = 0; slot < ring.size(); ++slot) {
    const double d = std::fabs(depth_stamp - orvix::perception::TimeToDouble(ring[slot].header));
    if (d < best) {
      best = d;
      index = static_cast<int>(slot);
    }
  }
  return index;
}

bool taskStateClosesAi(int32_t fsm_state, int32_t fsm_sub_state)
{
  return fsm_state == 8 && fsm_sub_state != 400;
}

bool colourImageUsable(const sensor_msgs::msg::Image & msg, std::string & reason)
{
  static const char * const kEncodings[] = {"rgb8", "bgr8", "rgba8", "bgra8", "mono8"};
  bool known = false;
  for (const char * encoding : kEncodings) {
    known = known || msg.encoding == encoding;
  }
  if (!known) {
    reason = "encoding [" + msg.encoding + "] is not a colour encoding the node decodes";
    return false;
  }
  if (msg.width == 0 || msg.height == 0) {
    reason = "empty image (" + std::to_string(msg.width) + "x" + std::to_string(msg.height) + ")";
    return false;
  }
  return rclcdds::cv_bridge::validateImage(msg, &reason);
}

bool depthImageUsable(const sensor_msgs::msg::Image & msg, std::string & reason)
{
  if (msg.width == 0 || msg.height == 0) {
    reason = "empty image (" + std::to_string(msg.width) + "x" + std::to_string(msg.height) + ")";
    return false;
  }
  DepthImageView view;
  return makeDepthImageView(msg, view, &reason);
}

}  // namespace nimbra
