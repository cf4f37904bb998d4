// The demo model's detections on a rendered frame against the frame's ground truth, and the
// picture that shows both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nimbra_model_zoo/model_detection.hpp>
#include <opencv2/core/mat.hpp>

#include "nimbra_demo_scene/demo_world.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"

namespace nimbra_demo_scene
{

/// How the model did on one object it should find.
struct ObjectCheck
{
  PixelRegion region;          ///< ground truth: the object's pixels
  std::string name;            ///< object name
  std::string expected_class;  ///< its semantic class
  int detection{-1};           ///< index of the matching detection, -1: missed
  std::string found_class;     ///< class of that detection
  double box_iou{0.0};         ///< detection box against the box of the object's pixels
  double mask_iou{0.0};        ///< detection mask against the object's pixels
};

/// How the model did on one frame.
struct FrameCheck
{
  std::vector<ObjectCheck> objects;  ///< every object with a model class and a big enough box
  std::vector<std::string> false_detections;  ///< detections on no object of their class
};

/// Matches `detections` (on the frame's colour image) to the objects of `labels`: a detection
/// belongs to the object that holds most of its mask pixels; it is false when that object has
/// another class (floor, walls and objects without a model class have none). `classes` names
/// the model's class ids. Objects with a class whose pixel box is at least `min_size` pixels
/// wide and high are expected.
FrameCheck checkDetections(
  const std::vector<uint16_t> & labels, uint32_t width, uint32_t height,
  const std::vector<WorldObject> & objects,
  const std::vector<orvix::model::ModelDetection> & detections,
  const std::vector<std::string> & classes, uint32_t min_size = 30);

/// BGR picture: the colour image with the detections' masks (lightened, outlined) and classes,
/// and the ground-truth pixel boxes (green) of every object with a model class, named.
cv::Mat drawOverlay(
  const std::vector<uint8_t> & rgb8, const std::vector<uint16_t> & labels, uint32_t width,
  uint32_t height, const std::vector<WorldObject> & objects,
  const std::vector<orvix::model::ModelDetection> & detections,
  const std::vector<std::string> & classes);

}  // namespace nimbra_demo_scene
