// Geometry of a synthetic scene: axis-aligned planes and boxes in the map frame, each with a
// flat colour and a kind (what it stands for).
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>

namespace nimbra_demo_scene
{

/// What a surface stands for; lets tests and viewers tell objects apart.
enum class SurfaceKind : uint8_t
{
  kFloor,
  kWall,
  kObstacle,
  kPerson,
  kPaper,
  kBottle,
  kCup,
  kFurniture,    ///< chairs, benches, beds, tables
  kFloorPatch,   ///< flat things on the floor: carpet, spilt liquid
  kCart,         ///< a pushed cart (moves)
  kMask,         ///< a face mask lying on the floor
};

/// Object id of a pixel where nothing is hit.
constexpr uint16_t kNoObject = 0xFFFF;

/// 8-bit RGB colour.
struct Rgb
{
  uint8_t r{0};  ///< red, 0..255
  uint8_t g{0};  ///< green, 0..255
  uint8_t b{0};  ///< blue, 0..255
};

/// Flat surface colour and kind of an object.
struct Material
{
  Rgb colour;                               ///< unshaded colour
  SurfaceKind kind{SurfaceKind::kObstacle}; ///< what the object is
};

/// Infinite plane `coordinate[axis] == offset`, seen only from the side `facing` points to.
struct AxisPlane
{
  int axis{2};          ///< 0 x, 1 y, 2 z (map frame)
  double offset{0.0};   ///< plane position along the axis, m
  double facing{1.0};   ///< +1: visible from larger coordinates, -1: from smaller ones
  Material material;    ///< colour and kind
  uint16_t object{0};   ///< id of the world object the plane belongs to
};

/// Solid axis-aligned box in the map frame.
struct Box
{
  Eigen::Vector3d min{Eigen::Vector3d::Zero()};  ///< lower corner, m
  Eigen::Vector3d max{Eigen::Vector3d::Zero()};  ///< upper corner, m
  Material material;                             ///< colour and kind
  uint16_t object{0};                            ///< id of the world object the box belongs to
};

/// Everything a camera can see, in the map frame.
struct Scene
{
  std::vector<AxisPlane> planes;  ///< floor and walls
  std::vector<Box> boxes;         ///< obstacles, people, litter
};

}  // namespace nimbra_demo_scene
