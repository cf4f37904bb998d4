// Line fitting of the floor along one angular segment (no point-cloud types).
#pragma once

#include <cstdint>
#include <vector>

#include "nimbra_perception_libs/ground_removal_params.hpp"

namespace orvix
{
namespace perception
{
namespace detail
{

/// Floor sample of one range bin: mean range and height of its lowest points.
struct BinSample
{
  float r = 0.0F;       ///< horizontal range, m
  float z = 0.0F;       ///< height, m
  float angle = 0.0F;   ///< mean azimuth of the sampled points, rad
  bool valid = false;   ///< false when the bin holds no point
};

/// Straight line z = slope * r + offset over a run of bins.
struct FittedLine
{
  float slope = 0.0F;   ///< dz/dr, m/m
  float offset = 0.0F;  ///< height at r = 0, m
  float angle = 0.0F;   ///< mean azimuth of its samples (where across the segment it holds), rad
  int first_bin = 0;    ///< first bin of the run
  float first_r = 0.0F; ///< range of the run's first sample, m
  float last_r = 0.0F;  ///< range of the run's last sample, m
  int last_bin = 0;     ///< last bin of the run
  int count = 0;        ///< samples in the run
  bool ground = false;  ///< accepted as floor

  float at(float r) const {return slope * r + offset;}

  /// Height at `r`; beyond the run the line continues from its end with the slope limited to
  /// `max_slope`, so a short run with a noisy slope does not run away.
  float extended(float r, float max_slope) const
  {
    if (r < first_r || r > last_r) {
      const float end = r < first_r ? first_r : last_r;
      const float limited = slope > max_slope ? max_slope : (slope < -max_slope ? -max_slope : slope);
      return at(end) + limited * (r - end);
    }
    return at(r);
  }
};

/// Fits floor lines through the bin samples of one segment (Himmelsbach et al. 2010) and gives every
/// bin the floor line that governs it.
class GroundSegment
{
public:
  /// Sizes the buffers for `bin_count` bins; allocates only here.
  void configure(const GroundRemovalParams & params, int bin_count);

  /// Fits the lines of `samples` (bin_count entries) and assigns a reference line to every bin.
  void fit(const BinSample * samples);

  /// Reference floor line of `bin` (valid after fit()).
  const FittedLine & reference(int bin) const {return references_[static_cast<std::size_t>(bin)];}

  /// True when at least one ground line was found by the last fit().
  bool hasGround() const {return has_ground_;}

  /// Lines of the last fit(), in range order.
  const std::vector<FittedLine> & lines() const {return lines_;}

  /// Replaces every bin's reference with `line` (used for segments without floor of their own).
  void setReference(const FittedLine & line);

private:
  struct RunningFit
  {
    double n = 0.0, sr = 0.0, sz = 0.0, srr = 0.0, srz = 0.0, szz = 0.0, sa = 0.0;
    int first_bin = -1;
    int last_bin = -1;
    float first_r = 0.0F;
    float last_r = 0.0F;
    float last_z = 0.0F;
    float last_angle = 0.0F;

    void add(const BinSample & s, int bin);
    void solve(float & slope, float & offset) const;
    double rmsResidual(float slope, float offset) const;
  };

  void closeRun(const RunningFit & run);
  bool slopeAllowed(float slope, float span) const;
  bool acceptAsGround(const FittedLine & line) const;
  void assignReferences();

  GroundRemovalParams params_;
  int bin_count_ = 0;
  bool has_ground_ = false;
  int last_ground_ = -1;                 ///< index in lines_ of the latest ground line
  std::vector<FittedLine> lines_;
  std::vector<FittedLine> references_;
};

}  // namespace detail
}  // namespace perception
}  // namespace orvix
