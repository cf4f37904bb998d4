// Pinhole intrinsics of a camera image.
#pragma once

namespace nimbra
{

/// Pinhole intrinsics: focal lengths and principal point of one image, pixels.
struct CameraIntrinsics
{
  float fx = 0.0F;  ///< focal length along columns, pixels
  float fy = 0.0F;  ///< focal length along rows, pixels
  float cx = 0.0F;  ///< principal point column, pixels
  float cy = 0.0F;  ///< principal point row, pixels
};

/// @brief True when both focal lengths are finite and non-zero and the principal point is finite.
bool intrinsicsValid(const CameraIntrinsics & intrinsics);

}  // namespace nimbra
