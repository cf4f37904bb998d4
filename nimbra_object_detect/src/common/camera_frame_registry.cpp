#include "common/camera_frame_registry.hpp"

namespace nimbra
{

CameraFrameRegistry & CameraFrameRegistry::instance()
{
  static CameraFrameRegistry registry;
  return registry;
}

std::shared_ptr<CameraFrame> CameraFrameRegistry::find(int32_t camera) const
{
  if (camera < 0) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto index = static_cast<std::size_t>(camera);
  return index < records_.size() ? records_[index] : nullptr;
}

std::shared_ptr<CameraFrame> CameraFrameRegistry::obtain(
  int32_t camera, float origin_x, float origin_y, float origin_z)
{
  if (camera < 0) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto index = static_cast<std::size_t>(camera);
  if (records_.size() <= index) {
    records_.resize(index + 1);
  }
  if (!records_[index]) {
    records_[index] = std::make_shared<CameraFrame>(origin_x, origin_y, origin_z);
  }
  return records_[index];
}

bool CameraFrameRegistry::updateViewExtent(
  int32_t camera, const Eigen::Matrix4f & cam_to_base,
  const pcl::PointCloud<pcl::PointXYZ> & base_cloud)
{
  const std::shared_ptr<CameraFrame> record =
    obtain(camera, cam_to_base(0, 3), cam_to_base(1, 3), cam_to_base(2, 3));
  return record != nullptr && record->update(base_cloud);
}

}  // namespace nimbra
