// Pinhole intrinsics of a synthetic camera (no distortion).
#pragma once

#include <cstdint>
#include <string>

namespace nimbra_demo_scene
{

/// Pinhole camera model with square pixels; pixel centres at integer coordinates.
struct CameraIntrinsics
{
  uint32_t width{0};   ///< image width, pixels
  uint32_t height{0};  ///< image height, pixels
  double fx{0.0};      ///< focal length along u, pixels
  double fy{0.0};      ///< focal length along v, pixels
  double cx{0.0};      ///< principal point column, pixels
  double cy{0.0};      ///< principal point row, pixels

  /// Intrinsics of a centred camera of the given size and horizontal field of view.
  /// @throws std::invalid_argument for a zero size or a field of view outside (0, 180) degrees
  static CameraIntrinsics fromHorizontalFov(uint32_t width, uint32_t height, double hfov_rad);

  /// True when sizes are non-zero and the focal lengths positive and finite; otherwise false
  /// with the reason in `reason` (when given).
  bool valid(std::string * reason = nullptr) const;
};

}  // namespace nimbra_demo_scene
