#include "cloud_test_scenes.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
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

CameraIntrinsics corridorIntrinsics()
{
  return CameraIntrinsics{385.0F, 385.0F, 320.0F, 240.0F};
}

sensor_msgs::msg::Image makeCorridorDepth()
{
  const CameraIntrinsics k = corridorIntrinsics();
  // Camera 0.5 m above the floor between walls 1 m to each side; the end wall is 6 m away.
  return makeDepthMessage(640, 480, "16UC1", [k](int u, int v) {
    if ((u * 7 + v * 13) % 97 == 0) {
      return 0.0;  // scattered pixels without a return
    }
    const double xn = (u - k.cx) / k.fx;
    const double yn = (v - k.cy) / k.fy;
    double depth = 6.0;
    if (yn > 0.0) {
      depth = std::min(depth, 0.5 / yn);
    }
    if (xn != 0.0) {
      depth = std::min(depth, 1.0 / std::fabs(xn));
    }
    return std::min(depth * 1000.0, 65535.0);
  });
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

LabellingScene makeLabellingScene(int cluster_count, int detection_count, unsigned seed)
{
  LabellingScene scene;
  scene.intrinsics = corridorIntrinsics();
  scene.width = 640;
  scene.height = 480;
  scene.camera_to_base = forwardCameraToBase(0.2F, 0.0F, 0.5F);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> jitter(0, 30);
  std::uniform_real_distribution<float> depth(1.0F, 3.0F);
  const semantic::SemanticType types[] = {
    semantic::PERSON, semantic::CHAIR, semantic::WHEELCHAIR, semantic::HOSPITAL_BED,
    semantic::OBSTACLE};

  // Clusters sit in the cells of a 5 x 4 grid over the image, one per cell, 300 points each.
  std::vector<cv::Rect> silhouettes;
  for (int i = 0; i < cluster_count; ++i) {
    const int cell_u = (i % 5) * 128;
    const int cell_v = ((i / 5) % 4) * 120;
    const cv::Rect rect(cell_u + jitter(random), cell_v + jitter(random), 60, 80);
    silhouettes.push_back(rect);
    const float z = depth(random);
    std::uniform_int_distribution<int> pick_u(rect.x, rect.x + rect.width - 1);
    std::uniform_int_distribution<int> pick_v(rect.y, rect.y + rect.height - 1);
    auto cloud = std::make_shared<PointCloud>();
    for (int n = 0; n < 300; ++n) {
      const pcl::PointXYZ p = pointAtPixel(scene.intrinsics, pick_u(random), pick_v(random), z);
      const Eigen::Vector4f moved = scene.camera_to_base * Eigen::Vector4f(p.x, p.y, p.z, 1.0F);
      cloud->points.emplace_back(moved.x(), moved.y(), moved.z());
    }
    cloud->width = static_cast<uint32_t>(cloud->points.size());
    cloud->height = 1;
    cloud->is_dense = true;
    cloud->header.frame_id = "base_footprint";
    scene.clusters.push_back(cloud);
  }
  // Detection i covers most of cluster i's silhouette, shifted by up to 15 pixels.
  std::uniform_int_distribution<int> shift(-15, 15);
  for (int i = 0; i < detection_count; ++i) {
    const cv::Rect & rect = silhouettes[static_cast<std::size_t>(i) % silhouettes.size()];
    const int du = shift(random);
    const int dv = shift(random);
    const cv::Mat mask = rectangleMask(
      cv::Size(scene.width, scene.height), rect.x + du, rect.x + rect.width - 1 + du, rect.y + dv,
      rect.y + rect.height - 1 + dv);
    scene.ai_result.detections.push_back(makeDetection(types[i % 5], mask));
  }
  scene.ai_result.image = cv::Mat::zeros(scene.height, scene.width, CV_8UC3);
  return scene;
}

}  // namespace nimbra::test
