// Expressing a detection of the colour image in the pixel grid of another image (the depth image).
#pragma once

#include <cstdint>

#include "common/detection.hpp"

namespace nimbra
{

/// @brief Copy of `detection` expressed in an image of `width` x `height` pixels.
///
/// The mask's size is taken as the size of the image the detection was made in. A target pixel
/// (u, v) takes the mask pixel holding its centre, ((u + 0.5) * mask width / width,
/// (v + 0.5) * mask height / height), the rule the cluster labelling uses; the box is scaled
/// outward (corners floored / ceiled) so it still covers every mapped mask pixel. A detection
/// whose mask is empty or already of the target size is copied unchanged.
/// @return false, with `mapped` an unchanged copy, when the mask is not CV_8UC1 or the target size
///         is not positive
bool mapDetectionToImage(
  const Detection & detection, int32_t width, int32_t height, Detection & mapped);

}  // namespace nimbra
