#include "cloud_test_scenes.hpp"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <map>

namespace nimbra::test
{
sensor_msgs::msg::Image makeDepthMessage(
  int width, int height, const std::string & encoding,
  const std::function<double(int u, int v)> & value, int padding)
{
  static const std::map<std::string, int> kPixelTypes = {
    {"16UC1", CV_16UC1}, {"mono16", CV_16UC1}, {"16SC1", CV_16SC1}, {"32FC1", CV_32FC1},
    {"64FC1", CV_64FC1}, {"8UC1", CV_8UC1}, {"mono8", CV_8UC1}};
  cv::Mat values(height, width, CV_64FC1);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      values.at<double>(v, u) = value(u, v);
    }
  }
  cv::Mat stored;
  values.convertTo(stored, kPixelTypes.at(encoding));
  sensor_msgs::msg::Image message;
  message.header.frame_id = "camera_depth_optical_frame";
  message.header.stamp.sec = 100;
  message.header.stamp.nanosec = 250000000;
  message.width = static_cast<uint32_t>(width);
  message.height = static_cast<uint32_t>(height);
  message.encoding = encoding;
  message.is_bigendian = 0;
  const std::size_t row_size = static_cast<std::size_t>(width) * stored.elemSize();
  message.step = static_cast<uint32_t>(row_size + padding);
  message.data.assign(static_cast<std::size_t>(message.step) * height, 0);
  for (int v = 0; v < height; ++v) {
    std::memcpy(message.data.data() + static_cast<std::size_t>(v) * message.step, stored.ptr(v),
      row_size);
  }
  return message;
}

Eigen::Matrix4f forwardCameraToBase(float x, float y, float z)
{
  Eigen::Matrix4f transform = Eigen::Matrix4f::Identity();
  transform.topLeftCorner<3, 3>() << 0, 0, 1, -1, 0, 0, 0, -1, 0;
  transform.topRightCorner<3, 1>() << x, y, z;
  return transform;
}

pcl::PointXYZ pointAtPixel(const CameraIntrinsics & k, int u, int v, float z)
{
  return pcl::PointXYZ(
    (static_cast<float>(u) - k.cx) * z / k.fx, (static_cast<float>(v) - k.cy) * z / k.fy, z);
}

cv::Mat rectangleMask(cv::Size size, int u0, int u1, int v0, int v1)
{
  cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
  cv::rectangle(mask, cv::Point(u0, v0), cv::Point(u1, v1), cv::Scalar(255), cv::FILLED);
  return mask;
}

Detection makeDetection(semantic::SemanticType type, const cv::Mat & mask, float score)
{
  Detection detection;
  const cv::Rect box = cv::boundingRect(mask);
  detection.x1 = box.x;
  detection.y1 = box.y;
  detection.x2 = box.x + box.width;
  detection.y2 = box.y + box.height;
  detection.mask = mask;
  detection.score = score;
  detection.type = type;
  return detection;
}

std::vector<std::array<float, 3>> coordinates(const PointCloud & cloud)
{
  std::vector<std::array<float, 3>> points;
  for (const pcl::PointXYZ & p : cloud.points) {
    points.push_back({p.x, p.y, p.z});
  }
  return points;
}

}  // namespace nimbra::test
