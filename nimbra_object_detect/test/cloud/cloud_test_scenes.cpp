#include "cloud_test_scenes.hpp"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <stdexcept>

namespace nimbra::test
{
namespace
{

template <typename T>
void storePixel(std::vector<uint8_t> & data, std::size_t offset, double value)
{
  const T stored = static_cast<T>(value);
  std::memcpy(data.data() + offset, &stored, sizeof(T));
}

}  // namespace

sensor_msgs::msg::Image makeDepthMessage(
  int width, int height, const std::string & encoding,
  const std::function<double(int u, int v)> & value, int padding)
{
  std::size_t pixel_size = 0;
  void (*store)(std::vector<uint8_t> &, std::size_t, double) = nullptr;
  if (encoding == "16UC1" || encoding == "mono16") {
    pixel_size = 2;
    store = &storePixel<uint16_t>;
  } else if (encoding == "16SC1") {
    pixel_size = 2;
    store = &storePixel<int16_t>;
  } else if (encoding == "32FC1") {
    pixel_size = 4;
    store = &storePixel<float>;
  } else if (encoding == "64FC1") {
    pixel_size = 8;
    store = &storePixel<double>;
  } else if (encoding == "8UC1" || encoding == "mono8") {
    pixel_size = 1;
    store = &storePixel<uint8_t>;
  } else {
    throw std::invalid_argument("makeDepthMessage: no writer for " + encoding);
  }
  sensor_msgs::msg::Image message;
  message.header.frame_id = "camera_depth_optical_frame";
  message.header.stamp.sec = 100;
  message.header.stamp.nanosec = 250000000;
  message.width = static_cast<uint32_t>(width);
  message.height = static_cast<uint32_t>(height);
  message.encoding = encoding;
  message.is_bigendian = 0;
  message.step = static_cast<uint32_t>(static_cast<std::size_t>(width) * pixel_size + padding);
  message.data.assign(static_cast<std::size_t>(message.step) * height, 0);
  for (int v = 0; v < height; ++v) {
    for (int u = 0; u < width; ++u) {
      store(message.data, static_cast<std::size_t>(v) * message.step + u * pixel_size, value(u, v));
    }
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

PointCloud::Ptr clusterAtPixels(
  const CameraIntrinsics & k, int u0, int u1, int v0, int v1, float z,
  const Eigen::Matrix4f & camera_to_base)
{
  auto cloud = std::make_shared<PointCloud>();
  for (int v = v0; v <= v1; ++v) {
    for (int u = u0; u <= u1; ++u) {
      pcl::PointXYZ p = pointAtPixel(k, u, v, z);
      const Eigen::Vector4f moved = camera_to_base * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
      cloud->points.emplace_back(moved.x(), moved.y(), moved.z());
    }
  }
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = true;
  cloud->header.frame_id = "base_footprint";
  return cloud;
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

}  // namespace nimbra::test
