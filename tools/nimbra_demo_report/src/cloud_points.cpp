#include "cloud_points.hpp"

#include <cmath>
#include <cstring>

namespace nimbra_demo_report
{

std::vector<Eigen::Vector3d> cloudPoints(const sensor_msgs::msg::PointCloud2 & cloud)
{
  std::vector<Eigen::Vector3d> points;
  int64_t offset[3] = {-1, -1, -1};
  const char * names[3] = {"x", "y", "z"};
  for (const auto & field : cloud.fields) {
    for (int i = 0; i < 3; ++i) {
      if (field.name == names[i] && field.datatype == sensor_msgs::msg::PointField::FLOAT32 &&
        field.count >= 1)
      {
        offset[i] = field.offset;
      }
    }
  }
  const uint64_t step = cloud.point_step;
  const uint64_t count = static_cast<uint64_t>(cloud.width) * cloud.height;
  if (offset[0] < 0 || offset[1] < 0 || offset[2] < 0 || step == 0 || cloud.is_bigendian ||
    count > cloud.data.size() / step)
  {
    return points;
  }
  for (int i = 0; i < 3; ++i) {
    if (static_cast<uint64_t>(offset[i]) + 4 > step) {
      return points;
    }
  }
  points.reserve(count);
  for (uint64_t k = 0; k < count; ++k) {
    const uint8_t * base = cloud.data.data() + k * step;
    float v[3];
    for (int i = 0; i < 3; ++i) {
      std::memcpy(&v[i], base + offset[i], sizeof(float));
    }
    if (std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2])) {
      points.emplace_back(v[0], v[1], v[2]);
    }
  }
  return points;
}

}  // namespace nimbra_demo_report
