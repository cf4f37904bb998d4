#include "common/camera_intrinsics.hpp"

#include <cmath>

namespace nimbra
{

bool intrinsicsValid(const CameraIntrinsics & intrinsics)
{
  return std::isfinite(intrinsics.fx) && std::isfinite(intrinsics.fy) && intrinsics.fx != 0.0F &&
         intrinsics.fy != 0.0F && std::isfinite(intrinsics.cx) && std::isfinite(intrinsics.cy);
}

}  // namespace nimbra
