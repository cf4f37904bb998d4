// One filtered instance of the segmentation network.
#pragma once

#include <cstdint>
#include <vector>

#include "common/region_cloud_request.hpp"
#include "common/semantic_type.hpp"

namespace nimbra
{

/// One kept network instance: box and mask (inherited, in that order), score and semantic class.
struct Detection : RegionCloudRequest
{
  std::vector<int32_t> aux_values;                   ///< free values owned by the record; empty as produced
  float score = 0.0F;                                ///< network confidence, 0..1
  int32_t reserved = 0;                              ///< unused, kept 0
  semantic::SemanticType type = semantic::NO_TYPE;   ///< semantic class of the instance
};

}  // namespace nimbra
