// Ground truth of the demo world per camera frame: which object each pixel shows, and the
// rendered frames themselves, for in-process tests and tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "nimbra_demo_scene/camera_intrinsics.hpp"
#include "nimbra_demo_scene/camera_mount.hpp"
#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/depth_renderer.hpp"

namespace nimbra_demo_scene
{

/// The pixels of one object in a label image.
struct PixelRegion
{
  uint16_t id{kNoObject};  ///< object id
  uint32_t u_min{0};       ///< leftmost column, inclusive
  uint32_t v_min{0};       ///< top row, inclusive
  uint32_t u_max{0};       ///< rightmost column, inclusive
  uint32_t v_max{0};       ///< bottom row, inclusive
  size_t pixels{0};        ///< pixels labelled with the object

  uint32_t width() const {return u_max - u_min + 1;}   ///< box width, pixels
  uint32_t height() const {return v_max - v_min + 1;}  ///< box height, pixels
};

/// One region per object id present in `labels` (row-major, width x height), by ascending id;
/// kNoObject pixels are skipped.
/// @throws std::invalid_argument when labels.size() != width * height
std::vector<PixelRegion> labelRegions(
  const std::vector<uint16_t> & labels, uint32_t width, uint32_t height);

/// The demo world seen by the demo robot's cameras, frame by frame, exactly as the demo_scene
/// node renders and publishes it for the same parameters (frame k is scene time k / rate).
class DemoRig
{
public:
  /// World, image size, rate and sensor of the rig.
  struct Params
  {
    DemoWorld::Params world;  ///< layout
    uint32_t width{640};      ///< image width, pixels
    uint32_t height{480};     ///< image height, pixels
    double rate_hz{10.0};     ///< frames per second, Hz
    int cameras{2};           ///< cameras 1 .. cameras (at most 2)
    double noise_m{0.005};    ///< depth noise standard deviation, m
    double max_range_m{10.0}; ///< depth range, m
  };

  /// One camera's frame.
  struct CameraFrame
  {
    CameraMount mount;                    ///< which camera
    double scene_t{0.0};                  ///< scene time of the frame, s
    Eigen::Isometry3d map_to_optical{Eigen::Isometry3d::Identity()};  ///< camera pose in map
    std::vector<uint8_t> depth_16uc1;     ///< depth, mm, little endian, packed rows
    std::vector<uint8_t> rgb8;            ///< colour, packed rows
    std::vector<uint16_t> labels;         ///< object id per pixel (kNoObject: nothing hit)
  };

  /// Horizontal field of view of the demo cameras, rad.
  static constexpr double kHorizontalFovRad = 80.0 * 3.14159265358979323846 / 180.0;

  /// @throws std::invalid_argument for invalid sizes, rate, camera count or world parameters
  explicit DemoRig(const Params & params);

  /// Renders camera `camera` (0-based) at frame `frame_index`.
  const CameraFrame & render(uint64_t frame_index, size_t camera);
  /// Scene time of a frame, s.
  double sceneTime(uint64_t frame_index) const {return frame_index / params_.rate_hz;}
  /// Depth noise seed of camera `camera` (0-based) for a world seed.
  static uint32_t cameraSeed(uint32_t world_seed, size_t camera);

  DemoWorld & world() {return world_;}
  const CameraIntrinsics & intrinsics() const {return intrinsics_;}
  size_t cameraCount() const {return renderers_.size();}
  const Params & params() const {return params_;}

private:
  Params params_;
  DemoWorld world_;
  CameraIntrinsics intrinsics_;
  std::vector<std::unique_ptr<DepthRenderer>> renderers_;
  CameraFrame frame_;
};

/// JSON document of a rendered frame's ground truth: scene time, camera, image size, and per
/// object its id, name, class ("" for none), whether it moves, its extents in map and
/// base_footprint ("map_min", "map_max", "base_min", "base_max"; boxed objects only) and, when
/// in view, its pixel count and inclusive pixel box ("pixels", "pixel_box": [u_min, v_min,
/// u_max, v_max]). Written next to recordings so tools outside the process can compare.
std::string frameTruthJson(DemoRig & rig, const DemoRig::CameraFrame & frame);

}  // namespace nimbra_demo_scene
