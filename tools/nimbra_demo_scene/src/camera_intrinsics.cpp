#include "nimbra_demo_scene/camera_intrinsics.hpp"

#include <cmath>
#include <stdexcept>

namespace nimbra_demo_scene
{

CameraIntrinsics CameraIntrinsics::fromHorizontalFov(
  uint32_t width, uint32_t height, double hfov_rad)
{
  if (width == 0 || height == 0) {
    throw std::invalid_argument("camera intrinsics: image size must be non-zero");
  }
  if (!(hfov_rad > 0.0 && hfov_rad < M_PI)) {
    throw std::invalid_argument("camera intrinsics: horizontal field of view must be in (0, pi)");
  }
  CameraIntrinsics intrinsics;
  intrinsics.width = width;
  intrinsics.height = height;
  intrinsics.fx = 0.5 * static_cast<double>(width) / std::tan(0.5 * hfov_rad);
  intrinsics.fy = intrinsics.fx;
  intrinsics.cx = 0.5 * (static_cast<double>(width) - 1.0);
  intrinsics.cy = 0.5 * (static_cast<double>(height) - 1.0);
  return intrinsics;
}

bool CameraIntrinsics::valid(std::string * reason) const
{
  const char * problem = nullptr;
  if (width == 0 || height == 0) {
    problem = "image size must be non-zero";
  } else if (!(std::isfinite(fx) && std::isfinite(fy) && fx > 0.0 && fy > 0.0)) {
    problem = "focal lengths must be positive and finite";
  } else if (!(std::isfinite(cx) && std::isfinite(cy))) {
    problem = "principal point must be finite";
  }
  if (problem != nullptr && reason != nullptr) {
    *reason = problem;
  }
  return problem == nullptr;
}

}  // namespace nimbra_demo_scene
