// Ray-casting renderer of registered depth (16UC1, mm) and colour (rgb8) images.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <Eigen/Geometry>

#include "nimbra_demo_scene/camera_intrinsics.hpp"
#include "nimbra_demo_scene/scene.hpp"

namespace nimbra_demo_scene
{

/// Renders what a depth camera with a registered colour sensor sees of a Scene. Depth is the
/// optical-axis distance (z in the optical frame) of the nearest surface, in millimetres, with
/// Gaussian noise; 0 where nothing is hit or the surface is outside the range. Colour is the
/// surface's flat colour with Lambert shading, floor tile joints and distance dimming.
class DepthRenderer
{
public:
  /// Range, noise and randomness of the depth sensor.
  struct Params
  {
    double min_range_m{0.1};   ///< nearer surfaces read 0, m
    double max_range_m{10.0};  ///< farther surfaces read 0, m (at most 65 m for 16UC1)
    double noise_m{0.005};     ///< standard deviation of the depth noise, m (0: exact)
    uint32_t seed{42};         ///< seed of the noise
  };

  /// What one render cost.
  struct Stats
  {
    double render_ms{0.0};      ///< wall time of the render, ms
    size_t boxes_tested{0};     ///< boxes left after range culling
    size_t valid_pixels{0};     ///< pixels with a non-zero depth
  };

  /// Precomputes the per-column and per-row ray slopes and the noise table.
  /// @throws std::invalid_argument for invalid intrinsics, a range that is empty, negative or
  ///   beyond 65 m, or a negative or non-finite noise
  DepthRenderer(const CameraIntrinsics & intrinsics, const Params & params);

  /// Renders one frame seen from `map_to_optical` (pose of the optical frame in the map).
  /// `depth_16uc1` (2 bytes per pixel, little endian) and `rgb8` (3 bytes per pixel) are
  /// resized to the image size when they differ; rows are packed (no padding).
  /// `frame_index` selects the noise of the frame, so frames are reproducible.
  Stats render(
    const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
    std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8);

  /// As above, and writes into `labels` (resized to width x height) the object id
  /// (AxisPlane::object, Box::object) of the surface each pixel sees, whether or not its depth
  /// is in range, or kNoObject where nothing is hit.
  Stats render(
    const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
    std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8,
    std::vector<uint16_t> & labels);

  const CameraIntrinsics & intrinsics() const {return intrinsics_;}
  const Params & params() const {return params_;}

private:
  /// A box prepared for one frame: bounds and the pixel rectangle it can cover.
  struct ActiveBox
  {
    std::array<float, 3> min{};
    std::array<float, 3> max{};
    int u0{0}, u1{0}, v0{0}, v1{0};  ///< inclusive pixel bounds of its projection
    size_t material{0};              ///< index into shaded_
  };

  Stats renderInto(
    const Scene & scene, const Eigen::Isometry3d & map_to_optical, uint64_t frame_index,
    std::vector<uint8_t> & depth_16uc1, std::vector<uint8_t> & rgb8,
    std::vector<uint16_t> * labels);
  void prepareBoxes(const Scene & scene, const Eigen::Isometry3d & map_to_optical);
  void prepareShading(const Scene & scene);

  CameraIntrinsics intrinsics_;
  Params params_;
  std::vector<float> column_slope_;  ///< (u - cx) / fx per column
  std::vector<float> row_slope_;     ///< (v - cy) / fy per row
  std::vector<float> noise_;         ///< standard normal samples, size a power of two
  std::vector<ActiveBox> active_;    ///< boxes of the current frame (reused)
  /// Shaded colour per material (planes first, then boxes) and face (+x, -x, +y, -y, +z, -z).
  std::vector<std::array<Rgb, 6>> shaded_;
  std::vector<uint16_t> material_object_;  ///< object id per material (planes, then boxes)
};

}  // namespace nimbra_demo_scene
