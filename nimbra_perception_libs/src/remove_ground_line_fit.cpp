#include "nimbra_perception_libs/remove_ground_line_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fast_math.hpp"
#include "ground_segment.hpp"
#include "thinning_grid.hpp"

namespace orvix
{
namespace perception
{
namespace
{

constexpr float kTwoPi = 6.28318530717959F;
constexpr float kPi = 3.14159265358979F;
constexpr int kMaxCells = 1 << 20;

// Angle difference in [-pi, pi).
float wrapAngle(float a)
{
  while (a >= kPi) {
    a -= kTwoPi;
  }
  while (a < -kPi) {
    a += kTwoPi;
  }
  return a;
}

// Parameters made safe to compute with: positive sizes, ordered ranges, finite values.
GroundRemovalParams sanitize(GroundRemovalParams p)
{
  auto finite_or = [](float v, float fallback) {return std::isfinite(v) ? v : fallback;};
  const GroundRemovalParams d;
  p.segmentation_angular_resolution = std::clamp(
    finite_or(p.segmentation_angular_resolution, d.segmentation_angular_resolution), 0.005F, kTwoPi);
  p.point_cloud_min_range = std::max(0.0F, finite_or(p.point_cloud_min_range, d.point_cloud_min_range));
  p.point_cloud_max_range = finite_or(p.point_cloud_max_range, d.point_cloud_max_range);
  p.segmentation_bin_len = std::max(0.005F, finite_or(p.segmentation_bin_len, d.segmentation_bin_len));
  if (p.point_cloud_max_range <= p.point_cloud_min_range) {
    p.point_cloud_max_range = p.point_cloud_min_range + p.segmentation_bin_len;
  }
  p.cam_height = finite_or(p.cam_height, d.cam_height);
  p.max_lsq_residual = std::max(0.0F, finite_or(p.max_lsq_residual, d.max_lsq_residual));
  p.min_slope = std::max(0.0F, finite_or(p.min_slope, d.min_slope));
  p.max_slope = std::max(0.0F, finite_or(p.max_slope, d.max_slope));
  p.max_height_diff_for_start_up =
    std::max(0.0F, finite_or(p.max_height_diff_for_start_up, d.max_height_diff_for_start_up));
  p.max_height_diff_for_start_down =
    std::max(0.0F, finite_or(p.max_height_diff_for_start_down, d.max_height_diff_for_start_down));
  p.max_dist_point_groundline =
    std::max(0.0F, finite_or(p.max_dist_point_groundline, d.max_dist_point_groundline));
  p.long_threshold = std::max(0.0F, finite_or(p.long_threshold, d.long_threshold));
  p.max_height_diff_for_front = std::max(0.0F, finite_or(p.max_height_diff_for_front, d.max_height_diff_for_front));
  p.x_distance_need_preprocess = finite_or(p.x_distance_need_preprocess, d.x_distance_need_preprocess);
  p.z_distance_need_remove = std::max(0.0F, finite_or(p.z_distance_need_remove, d.z_distance_need_remove));
  p.max_obstacle_height = std::max(0.0F, finite_or(p.max_obstacle_height, d.max_obstacle_height));
  p.diluting_threshold = finite_or(p.diluting_threshold, 0.0F);
  // Keep the bin table bounded: coarser bins rather than an unbounded allocation.
  const float segments = std::ceil(kTwoPi / p.segmentation_angular_resolution);
  const float bins = std::ceil((p.point_cloud_max_range - p.point_cloud_min_range) / p.segmentation_bin_len);
  if (segments * bins > static_cast<float>(kMaxCells)) {
    p.segmentation_bin_len *= segments * bins / static_cast<float>(kMaxCells);
  }
  return p;
}

}  // namespace

// Floor model of one cell (segment, range bin), resolved once per frame for the per-point loop.
struct CellReference
{
  detail::FittedLine own;            ///< floor line of the cell
  detail::FittedLine partner[2];     ///< line blended in for points left [0] / right [1] of own.angle
  float inv_span[2] = {0.0F, 0.0F};  ///< 1 / (partner angle - own angle), 0 when no partner
};

struct RemoveGroundLineFit::Impl
{
  GroundRemovalParams params;
  int segment_count = 0;
  int bin_count = 0;
  std::vector<detail::GroundSegment> segments;
  std::vector<int> reference_segment;      ///< segment whose floor a segment uses (itself when it has one)
  std::vector<CellReference> cell_reference;
  std::vector<detail::BinSample> samples;  ///< segment-major bin samples
  std::vector<float> bin_min_z;
  std::vector<float> bin_sum_r;
  std::vector<float> bin_sum_z;
  std::vector<int> bin_count_in_band;
  std::vector<float> bin_sum_angle;
  std::vector<int> point_cell;             ///< cell of each point, -1 when dropped
  std::vector<float> point_range;
  std::vector<float> point_angle;
  std::vector<PointLabel> labels;
  detail::ThinningGrid thinning;
  const PointCloudXYZ * prepared = nullptr;  ///< cloud of the last prepare (identity only)
  std::size_t prepared_size = 0;
  std::string error;

  explicit Impl(const GroundRemovalParams & p);
  void prepare(const PointCloudXYZ & cloud);
  void binPoints(const PointCloudXYZ & cloud);
  void fitSegments();
  void resolveCellReferences();
  float referenceHeight(int cell, float r, float angle) const;
  void label(const PointCloudXYZ & cloud, PointCloudXYZ & obstacle, PointCloudXYZ & ground);
};

RemoveGroundLineFit::Impl::Impl(const GroundRemovalParams & p)
: params(sanitize(p))
{
  segment_count = static_cast<int>(std::ceil(kTwoPi / params.segmentation_angular_resolution));
  bin_count = std::max(1, static_cast<int>(std::ceil(
      (params.point_cloud_max_range - params.point_cloud_min_range) / params.segmentation_bin_len)));
  segments.resize(static_cast<std::size_t>(segment_count));
  for (detail::GroundSegment & segment : segments) {
    segment.configure(params, bin_count);
  }
  reference_segment.resize(static_cast<std::size_t>(segment_count));
  const std::size_t cells = static_cast<std::size_t>(segment_count) * static_cast<std::size_t>(bin_count);
  samples.resize(cells);
  bin_min_z.resize(cells);
  bin_sum_r.resize(cells);
  bin_sum_z.resize(cells);
  bin_count_in_band.resize(cells);
  thinning.configure(params.point_cloud_max_range, params.diluting_threshold);
  bin_sum_angle.resize(cells);
  cell_reference.resize(cells);
}

void RemoveGroundLineFit::Impl::prepare(const PointCloudXYZ & cloud)
{
  binPoints(cloud);
  fitSegments();
  prepared = &cloud;
  prepared_size = cloud.size();
}

void RemoveGroundLineFit::Impl::binPoints(const PointCloudXYZ & cloud)
{
  const std::size_t n = cloud.size();
  point_cell.resize(n);
  point_range.resize(n);
  point_angle.resize(n);
  std::fill(bin_min_z.begin(), bin_min_z.end(), std::numeric_limits<float>::infinity());
  std::fill(bin_sum_r.begin(), bin_sum_r.end(), 0.0F);
  std::fill(bin_sum_z.begin(), bin_sum_z.end(), 0.0F);
  std::fill(bin_sum_angle.begin(), bin_sum_angle.end(), 0.0F);
  std::fill(bin_count_in_band.begin(), bin_count_in_band.end(), 0);

  const float min_range = params.point_cloud_min_range;
  const float max_range = params.point_cloud_max_range;
  const float inv_bin = 1.0F / params.segmentation_bin_len;
  const float inv_res = 1.0F / params.segmentation_angular_resolution;
  for (std::size_t i = 0; i < n; ++i) {
    const pcl::PointXYZ & p = cloud.points[i];
    point_cell[i] = -1;
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      continue;
    }
    const float r = std::sqrt(p.x * p.x + p.y * p.y);
    if (r < min_range || r >= max_range) {
      continue;
    }
    const float angle = detail::fastAtan2(p.y, p.x);
    const int segment = std::min(segment_count - 1, static_cast<int>((angle + kPi) * inv_res));
    const int bin = std::min(bin_count - 1, static_cast<int>((r - min_range) * inv_bin));
    const int cell = segment * bin_count + bin;
    point_cell[i] = cell;
    point_range[i] = r;
    point_angle[i] = angle;
    float & lowest = bin_min_z[static_cast<std::size_t>(cell)];
    lowest = std::min(lowest, p.z);
  }
  // The floor sample of a bin is the mean point of its floor: first the points within the ground band
  // above its lowest point, then, to remove the low bias of that choice under noise, the points within
  // the band around their mean. A step higher than the band stays out of the sample. On a floor tilted
  // across the segment the sample is a true floor point whose azimuth is kept.
  const float band = std::max(params.max_dist_point_groundline, 1e-3F);
  for (std::size_t i = 0; i < n; ++i) {
    const int cell = point_cell[i];
    if (cell >= 0) {
      const auto c = static_cast<std::size_t>(cell);
      const float z = cloud.points[i].z;
      if (z <= bin_min_z[c] + band) {
        bin_sum_z[c] += z;
        ++bin_count_in_band[c];
      }
    }
  }
  for (std::size_t c = 0; c < samples.size(); ++c) {
    // The first estimate takes the place of the lowest point from here on.
    bin_min_z[c] = bin_count_in_band[c] > 0 ? bin_sum_z[c] / static_cast<float>(bin_count_in_band[c]) : 0.0F;
    bin_sum_z[c] = 0.0F;
    bin_count_in_band[c] = 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const int cell = point_cell[i];
    if (cell >= 0) {
      const auto c = static_cast<std::size_t>(cell);
      const float z = cloud.points[i].z;
      if (std::fabs(z - bin_min_z[c]) <= band) {
        bin_sum_r[c] += point_range[i];
        bin_sum_z[c] += z;
        bin_sum_angle[c] += point_angle[i];
        ++bin_count_in_band[c];
      }
    }
  }
  for (std::size_t c = 0; c < samples.size(); ++c) {
    detail::BinSample & s = samples[c];
    s.valid = bin_count_in_band[c] > 0;
    if (s.valid) {
      const float inv = 1.0F / static_cast<float>(bin_count_in_band[c]);
      s.r = bin_sum_r[c] * inv;
      s.z = bin_sum_z[c] * inv;
      s.angle = bin_sum_angle[c] * inv;
    }
  }
}

void RemoveGroundLineFit::Impl::fitSegments()
{
  for (int s = 0; s < segment_count; ++s) {
    segments[static_cast<std::size_t>(s)].fit(&samples[static_cast<std::size_t>(s) * bin_count]);
  }
  // A segment without floor of its own borrows the floor of the nearest segment that has one.
  for (int s = 0; s < segment_count; ++s) {
    int source = s;
    if (!segments[static_cast<std::size_t>(s)].hasGround()) {
      for (int step = 1; step <= segment_count / 2; ++step) {
        const int left = (s + step) % segment_count;
        const int right = (s - step + segment_count) % segment_count;
        if (segments[static_cast<std::size_t>(left)].hasGround()) {
          source = left;
          break;
        }
        if (segments[static_cast<std::size_t>(right)].hasGround()) {
          source = right;
          break;
        }
      }
    }
    reference_segment[static_cast<std::size_t>(s)] = source;
  }
  resolveCellReferences();
}

void RemoveGroundLineFit::Impl::resolveCellReferences()
{
  // A line holds at the azimuth of its samples. Between (or just beyond) the azimuths of a segment's
  // floor and its neighbour's, the floor height is interpolated linearly in azimuth, which keeps a floor
  // tilted sideways right to first order. Points on a side without a neighbouring floor extrapolate
  // from the neighbour on the other side; segments without floor of their own take a borrowed line.
  for (int segment = 0; segment < segment_count; ++segment) {
    const int own = reference_segment[static_cast<std::size_t>(segment)];
    for (int bin = 0; bin < bin_count; ++bin) {
      CellReference & ref = cell_reference[static_cast<std::size_t>(segment * bin_count + bin)];
      ref.own = segments[static_cast<std::size_t>(own)].reference(bin);
      ref.inv_span[0] = 0.0F;
      ref.inv_span[1] = 0.0F;
      if (own != segment) {
        continue;
      }
      for (int side = 0; side < 2; ++side) {
        const int toward = side == 0 ? 1 : -1;  // left: larger azimuth
        for (const int step : {toward, -toward}) {
          const int neighbour = (segment + step + segment_count) % segment_count;
          const detail::GroundSegment & other = segments[static_cast<std::size_t>(neighbour)];
          if (neighbour == segment || !other.hasGround()) {
            continue;
          }
          const detail::FittedLine & line = other.reference(bin);
          const float span = wrapAngle(line.angle - ref.own.angle);
          if (std::fabs(span) < 1e-3F) {
            continue;
          }
          ref.partner[side] = line;
          ref.inv_span[side] = 1.0F / span;
          break;
        }
      }
    }
  }
}

float RemoveGroundLineFit::Impl::referenceHeight(int cell, float r, float angle) const
{
  const CellReference & ref = cell_reference[static_cast<std::size_t>(cell)];
  const float max_slope = params.max_slope;
  const float own_height = ref.own.extended(r, max_slope);
  float d = angle - ref.own.angle;
  if (d >= kPi) {
    d -= kTwoPi;
  } else if (d < -kPi) {
    d += kTwoPi;
  }
  const int side = d >= 0.0F ? 0 : 1;
  if (ref.inv_span[side] == 0.0F) {
    return own_height;
  }
  const float w = std::clamp(d * ref.inv_span[side], -1.0F, 1.0F);
  return own_height + w * (ref.partner[side].extended(r, max_slope) - own_height);
}

void RemoveGroundLineFit::Impl::label(
  const PointCloudXYZ & cloud, PointCloudXYZ & obstacle, PointCloudXYZ & ground)
{
  const std::size_t n = cloud.size();
  labels.assign(n, PointLabel::kDropped);
  thinning.nextFrame();
  const float band = params.max_dist_point_groundline;
  const float below = params.max_height_diff_for_start_down;
  const float ceiling = params.max_obstacle_height;
  const float near_x = params.x_distance_need_preprocess;
  const float near_z = params.z_distance_need_remove;
  for (std::size_t i = 0; i < n; ++i) {
    const int cell = point_cell[i];
    if (cell < 0) {
      continue;
    }
    const pcl::PointXYZ & p = cloud.points[i];
    const float height = p.z - referenceHeight(cell, point_range[i], point_angle[i]);
    if (height > ceiling || height < -below) {
      continue;
    }
    const bool near_floor = p.x < near_x && std::fabs(p.z) <= near_z;
    if (near_floor || height <= band) {
      labels[i] = PointLabel::kGround;
      if (thinning.claim(p.x, p.y)) {
        ground.push_back(p);
      }
    } else {
      labels[i] = PointLabel::kObstacle;
      obstacle.push_back(p);
    }
  }
}

RemoveGroundLineFit::RemoveGroundLineFit(const GroundRemovalParams & params)
: impl_(std::make_unique<Impl>(params))
{
}

RemoveGroundLineFit::~RemoveGroundLineFit() = default;

bool RemoveGroundLineFit::prepareFilter(const PointCloudXYZ::ConstPtr & cloud)
{
  if (!cloud) {
    impl_->error = "prepareFilter: null input cloud";
    impl_->prepared = nullptr;
    return false;
  }
  impl_->error.clear();
  impl_->prepare(*cloud);
  return true;
}

bool RemoveGroundLineFit::filter(
  const PointCloudXYZ::ConstPtr & cloud, const PointCloudXYZ::Ptr & obstacle,
  const PointCloudXYZ::Ptr & ground)
{
  if (obstacle) {
    obstacle->clear();
  }
  if (ground) {
    ground->clear();
  }
  if (!cloud || !obstacle || !ground) {
    impl_->error = !cloud ? "filter: null input cloud" : "filter: null output cloud";
    impl_->labels.clear();
    return false;
  }
  impl_->error.clear();
  if (impl_->prepared != cloud.get() || impl_->prepared_size != cloud->size()) {
    impl_->prepare(*cloud);
  }
  impl_->label(*cloud, *obstacle, *ground);
  for (PointCloudXYZ * out : {obstacle.get(), ground.get()}) {
    out->header = cloud->header;
    out->width = static_cast<std::uint32_t>(out->size());
    out->height = 1;
    out->is_dense = true;
  }
  // The next frame must bin again even if it reuses this cloud's storage.
  impl_->prepared = nullptr;
  return true;
}

const std::vector<PointLabel> & RemoveGroundLineFit::labels() const {return impl_->labels;}

const GroundRemovalParams & RemoveGroundLineFit::params() const {return impl_->params;}

const std::string & RemoveGroundLineFit::lastError() const {return impl_->error;}

}  // namespace perception
}  // namespace orvix
