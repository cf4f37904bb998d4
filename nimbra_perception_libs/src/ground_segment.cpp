#include "ground_segment.hpp"

#include <algorithm>
#include <cmath>

namespace orvix
{
namespace perception
{
namespace detail
{

void GroundSegment::RunningFit::add(const BinSample & s, int bin)
{
  const float r = s.r;
  const float z = s.z;
  n += 1.0;
  sa += s.angle;
  sr += r;
  sz += z;
  srr += static_cast<double>(r) * r;
  srz += static_cast<double>(r) * z;
  szz += static_cast<double>(z) * z;
  if (first_bin < 0) {
    first_bin = bin;
    first_r = r;
  }
  last_bin = bin;
  last_r = r;
  last_z = z;
  last_angle = s.angle;
}

void GroundSegment::RunningFit::solve(float & slope, float & offset) const
{
  const double denominator = n * srr - sr * sr;
  if (n < 2.0 || std::fabs(denominator) < 1e-12) {
    slope = 0.0F;
    offset = static_cast<float>(n > 0.0 ? sz / n : 0.0);
    return;
  }
  const double m = (n * srz - sr * sz) / denominator;
  slope = static_cast<float>(m);
  offset = static_cast<float>((sz - m * sr) / n);
}

double GroundSegment::RunningFit::rmsResidual(float slope, float offset) const
{
  if (n < 1.0) {
    return 0.0;
  }
  const double m = slope;
  const double b = offset;
  // Sum of (z - m r - b)^2 expanded over the running sums.
  const double sse = szz + m * m * srr + n * b * b - 2.0 * m * srz - 2.0 * b * sz + 2.0 * m * b * sr;
  return std::sqrt(std::max(0.0, sse) / n);
}

void GroundSegment::configure(const GroundRemovalParams & params, int bin_count)
{
  params_ = params;
  bin_count_ = std::max(0, bin_count);
  lines_.clear();
  lines_.reserve(static_cast<std::size_t>(bin_count_));
  references_.assign(static_cast<std::size_t>(bin_count_), FittedLine());
}

void GroundSegment::fit(const BinSample * samples)
{
  lines_.clear();
  has_ground_ = false;
  last_ground_ = -1;
  RunningFit run;
  for (int bin = 0; bin < bin_count_; ++bin) {
    const BinSample & s = samples[bin];
    if (!s.valid) {
      continue;
    }
    if (run.n < 1.0) {
      run.add(s, bin);
      continue;
    }
    const float gap = s.r - run.last_r;
    if (gap > params_.long_threshold) {
      // Long gap (occlusion): the next line is judged by its start against the floor before it.
      closeRun(run);
      run = RunningFit();
      run.add(s, bin);
      continue;
    }
    float slope = 0.0F;
    float offset = run.last_z;
    run.solve(slope, offset);
    const float predicted = run.n >= 2.0 ? slope * s.r + offset : run.last_z;
    const float allowed = params_.max_height_diff_for_front +
      (run.n >= 2.0 ? 0.0F : params_.max_slope * gap);
    bool extend = std::fabs(s.z - predicted) <= allowed;
    if (extend) {
      RunningFit grown = run;
      grown.add(s, bin);
      grown.solve(slope, offset);
      extend = slopeAllowed(slope, grown.last_r - grown.first_r) &&
        grown.rmsResidual(slope, offset) <= params_.max_lsq_residual;
      if (extend) {
        run = grown;
        continue;
      }
    }
    // The line ends here. A bend of a continuous surface (the jump from the last sample is what the
    // steepest floor allows plus the step tolerance) starts the next line at the last sample, so the
    // two lines join; a larger jump is a step and the next line starts on its own.
    BinSample last;
    last.r = run.last_r;
    last.z = run.last_z;
    last.angle = run.last_angle;
    last.valid = true;
    const int last_bin = run.last_bin;
    closeRun(run);
    run = RunningFit();
    if (std::fabs(s.z - last.z) <= params_.max_slope * gap + params_.max_height_diff_for_front) {
      run.add(last, last_bin);
    }
    run.add(s, bin);
  }
  if (run.n >= 1.0) {
    closeRun(run);
  }
  assignReferences();
}

void GroundSegment::closeRun(const RunningFit & run)
{
  FittedLine line;
  run.solve(line.slope, line.offset);
  line.first_bin = run.first_bin;
  line.first_r = run.first_r;
  line.last_r = run.last_r;
  line.angle = static_cast<float>(run.sa / std::max(1.0, run.n));
  line.last_bin = run.last_bin;
  line.count = static_cast<int>(run.n);
  line.ground = acceptAsGround(line);
  if (line.ground) {
    has_ground_ = true;
    last_ground_ = static_cast<int>(lines_.size());
  }
  lines_.push_back(line);
}

bool GroundSegment::slopeAllowed(float slope, float span) const
{
  // Over the run, the rise may exceed the steepest floor by the step tolerance (noise of short runs).
  return std::fabs(slope) * span <= params_.max_slope * span + params_.max_height_diff_for_front;
}

bool GroundSegment::acceptAsGround(const FittedLine & line) const
{
  if (!slopeAllowed(line.slope, line.last_r - line.first_r)) {
    return false;
  }
  const float up = params_.max_height_diff_for_start_up;
  const float down = params_.max_height_diff_for_start_down;
  // Flat runs must lie at the floor level the robot stands on (plateau guard).
  if (line.count >= 2 && std::fabs(line.slope) <= params_.min_slope) {
    const float d = line.offset - params_.cam_height;
    if (d > up || d < -down) {
      return false;
    }
  }
  if (last_ground_ < 0) {
    // First floor of the segment: its start, or its extension to the robot (a slope that begins under
    // the robot), must lie at the calibrated floor level.
    const float d_start = line.at(line.first_r) - params_.cam_height;
    const float d_robot = line.offset - params_.cam_height;
    return (d_start <= up && d_start >= -down) || (d_robot <= up && d_robot >= -down);
  }
  // Later floor: its start must continue the previous floor line.
  const FittedLine & previous = lines_[static_cast<std::size_t>(last_ground_)];
  const float d = line.at(line.first_r) - previous.extended(line.first_r, params_.max_slope);
  return d <= up && d >= -down;
}

void GroundSegment::assignReferences()
{
  if (!has_ground_) {
    FittedLine flat;
    flat.offset = params_.cam_height;
    flat.first_bin = 0;
    flat.last_bin = bin_count_ - 1;
    std::fill(references_.begin(), references_.end(), flat);
    return;
  }
  // Bins of a ground line take it; other bins take the latest ground line before them, and bins in
  // front of the first ground line take that first line.
  const FittedLine * current = nullptr;
  for (const FittedLine & line : lines_) {
    if (line.ground) {
      current = &line;
      break;
    }
  }
  std::size_t next_line = 0;
  for (int bin = 0; bin < bin_count_; ++bin) {
    while (next_line < lines_.size() && lines_[next_line].first_bin <= bin) {
      if (lines_[next_line].ground) {
        current = &lines_[next_line];
      }
      ++next_line;
    }
    references_[static_cast<std::size_t>(bin)] = *current;
  }
}

void GroundSegment::setReference(const FittedLine & line)
{
  std::fill(references_.begin(), references_.end(), line);
}

}  // namespace detail
}  // namespace perception
}  // namespace orvix
