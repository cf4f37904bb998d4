// Ground removal by line fitting in angular segments (Himmelsbach et al., 2010).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "nimbra_perception_libs/cloud_types.hpp"
#include "nimbra_perception_libs/ground_removal_params.hpp"

namespace orvix
{
namespace perception
{

/// Class given to each input point by the last filter() call.
enum class PointLabel : std::uint8_t
{
  kDropped = 0,   ///< not output: NaN/inf, outside the range limits, above the ceiling or far below the floor
  kGround = 1,    ///< floor (it may still be left out of the ground cloud by thinning)
  kObstacle = 2,  ///< obstacle point
};

/// Splits a base-frame cloud (x forward, y left, z up, floor near z = 0) into ground and obstacles.
class RemoveGroundLineFit
{
public:
  /// Keeps a copy of the parameters; values outside their sane range are clamped (see README).
  explicit RemoveGroundLineFit(const GroundRemovalParams & params);
  virtual ~RemoveGroundLineFit();

  RemoveGroundLineFit(const RemoveGroundLineFit &) = delete;
  RemoveGroundLineFit & operator=(const RemoveGroundLineFit &) = delete;

  /// First step: bins the cloud by angle and range and fits the ground lines of every segment.
  /// @return false for a null cloud (reason in lastError()); an empty cloud is valid.
  virtual bool prepareFilter(const PointCloudXYZ::ConstPtr & cloud);

  /// Second step: labels every point of `cloud` and fills `obstacle` and `ground` (both cleared first).
  /// Runs prepareFilter() itself when `cloud` is not the cloud it prepared last.
  /// @return false for a null argument (reason in lastError()); the outputs are then left empty.
  virtual bool filter(
    const PointCloudXYZ::ConstPtr & cloud, const PointCloudXYZ::Ptr & obstacle,
    const PointCloudXYZ::Ptr & ground);

  /// Per-point labels of the last filter() call, in input order.
  const std::vector<PointLabel> & labels() const;

  /// Parameters in use, after clamping.
  const GroundRemovalParams & params() const;

  /// Reason of the last false result; empty after a success.
  const std::string & lastError() const;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;  ///< working buffers, reused from frame to frame
};

}  // namespace perception
}  // namespace orvix
