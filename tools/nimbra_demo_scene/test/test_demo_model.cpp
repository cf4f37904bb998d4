// The demo model through orvix::model::YOLOv8Seg on rendered frames of both cameras along the
// robot's loop, against the ground truth of each frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <nimbra_model_zoo/yolov8_seg.hpp>

#include "../src/model_overlay.hpp"
#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"

namespace nimbra_demo_scene
{
namespace
{

TEST(DemoModel, HasOneClassPerPaletteClassAndFindsEveryObjectAlongTheLoopAndNothingElse)
{
  YAML::Node description;
  description["model_file"] = DEMO_MODEL_FILE;
  orvix::model::YOLOv8Seg model(description);
  // The model generated from demo_palette.csv has the classes the library reads from it.
  const std::vector<std::string> classes = demoModelClasses();
  ASSERT_EQ(model.ClassCount(), static_cast<int>(classes.size()));

  DemoRig rig(DemoRig::Params{});
  const int kFrames = 24;
  // Frames spread over one loop of the robot (10 Hz), offset so the U-turns are included.
  const uint64_t loop_frames = static_cast<uint64_t>(rig.world().trajectory().period() * 10.0);
  size_t checked = 0;
  double worst_box = 1.0, worst_mask = 1.0;
  std::set<std::string> seen_classes;
  for (int k = 0; k < kFrames; ++k) {
    const uint64_t frame = 5 + static_cast<uint64_t>(k) * loop_frames / kFrames;
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      SCOPED_TRACE("frame " + std::to_string(frame) + " camera " + std::to_string(camera + 1));
      const DemoRig::CameraFrame & rendered = rig.render(frame, camera);
      cv::Mat rgb(480, 640, CV_8UC3, const_cast<uint8_t *>(rendered.rgb8.data()));
      std::vector<orvix::model::ModelDetection> detections;
      ASSERT_TRUE(model.Infer(rgb, detections)) << model.LastError();
      // Every detection lies on an object of its class; every object of a class is found.
      const FrameCheck check = checkDetections(
        rendered.labels, 640, 480, rig.world().objects(), detections, classes);
      EXPECT_TRUE(check.false_detections.empty())
        << check.false_detections.size() << " false, first: " << check.false_detections.front();
      for (const ObjectCheck & object : check.objects) {
        SCOPED_TRACE(object.name);
        ASSERT_GE(object.detection, 0) << "missed, " << object.region.width() << "x" <<
          object.region.height() << " px";
        EXPECT_EQ(object.found_class, object.expected_class);
        EXPECT_GE(object.box_iou, 0.8);
        EXPECT_GE(object.mask_iou, 0.8);
        worst_box = std::min(worst_box, object.box_iou);
        worst_mask = std::min(worst_mask, object.mask_iou);
        seen_classes.insert(object.expected_class);
        ++checked;
      }
    }
  }
  // The loop shows every class of the model at a checkable size at least once.
  EXPECT_EQ(seen_classes.size(), classes.size());
  std::printf("demo model: %zu object views, worst box IoU %.3f, worst mask IoU %.3f\n", checked,
    worst_box, worst_mask);
}

}  // namespace
}  // namespace nimbra_demo_scene
