// One labelled piece of obstacle points.
#pragma once

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "common/detection.hpp"
#include "common/semantic_type.hpp"

namespace nimbra
{

/// A piece of base-frame points with the detection it matched, its class and whether it stands for it.
struct ClassCloudInfo
{
  pcl::PointCloud<pcl::PointXYZ> cloud;            ///< points in the base frame, metres; height 1
  Detection detection;                             ///< copy of the matched detection; default if none
  semantic::SemanticType type = semantic::NO_TYPE; ///< class of the piece
  bool has_detection = false;                      ///< true for the piece representing its detection
};

}  // namespace nimbra
