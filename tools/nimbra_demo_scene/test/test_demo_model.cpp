// The demo model through orvix::model::YOLOv8Seg on rendered frames of both cameras along the
// robot's loop, against the ground truth of each frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
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

std::unique_ptr<orvix::model::YOLOv8Seg> loadDemoModel()
{
  YAML::Node description;
  description["model_file"] = DEMO_MODEL_FILE;
  return std::make_unique<orvix::model::YOLOv8Seg>(description);
}

TEST(DemoModel, HasTheLayoutOfAnExportAndOneClassPerPaletteClass)
{
  auto model = loadDemoModel();
  EXPECT_EQ(model->ClassCount(), static_cast<int>(demoModelClasses().size()));
  EXPECT_EQ(model->Config().input_width, 640);
  EXPECT_EQ(model->Config().input_height, 640);
}

TEST(DemoModel, FindsEveryObjectOfItsClassesAlongTheLoop)
{
  auto model = loadDemoModel();
  DemoRig rig(DemoRig::Params{});
  const std::vector<std::string> classes = demoModelClasses();
  const int kFrames = 24;
  // Frames spread over one loop of the robot (10 Hz), offset so the U-turns are included.
  const uint64_t loop_frames = static_cast<uint64_t>(rig.world().trajectory().period() * 10.0);
  size_t checked = 0;
  double worst_box = 1.0, worst_mask = 1.0, sum_box = 0.0, sum_mask = 0.0;
  std::vector<std::string> seen_classes;
  for (int k = 0; k < kFrames; ++k) {
    const uint64_t frame = 5 + static_cast<uint64_t>(k) * loop_frames / kFrames;
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      const DemoRig::CameraFrame & rendered = rig.render(frame, camera);
      cv::Mat rgb(480, 640, CV_8UC3, const_cast<uint8_t *>(rendered.rgb8.data()));
      std::vector<orvix::model::ModelDetection> detections;
      ASSERT_TRUE(model->Infer(rgb, detections)) << model->LastError();
      const FrameCheck check = checkDetections(
        rendered.labels, 640, 480, rig.world().objects(), detections, classes);
      SCOPED_TRACE("frame " + std::to_string(frame) + " camera " + std::to_string(camera + 1));
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
        sum_box += object.box_iou;
        sum_mask += object.mask_iou;
        ++checked;
        if (std::find(seen_classes.begin(), seen_classes.end(), object.expected_class) ==
          seen_classes.end())
        {
          seen_classes.push_back(object.expected_class);
        }
      }
    }
  }
  // The loop shows every class of the model at a checkable size at least once.
  EXPECT_EQ(seen_classes.size(), classes.size());
  ASSERT_GT(checked, 0U);
  std::printf(
    "demo model: %zu object views in %d frames x %zu cameras; box IoU mean %.3f min %.3f, "
    "mask IoU mean %.3f min %.3f\n", checked, kFrames, rig.cameraCount(),
    sum_box / checked, worst_box, sum_mask / checked, worst_mask);
}

TEST(DemoModel, DetectsNothingOnSurfacesWithoutItsClass)
{
  auto model = loadDemoModel();
  DemoRig::Params params;
  params.world.litter_count = 0;
  params.world.obstacle_count = 0;
  DemoRig rig(params);
  // In the far U-turn (t = 30 s) the cameras sweep over floor, walls, the table, the bed and the
  // cart with no litter about: every detection must lie on an object of its class.
  for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
    const DemoRig::CameraFrame & rendered = rig.render(300, camera);
    cv::Mat rgb(480, 640, CV_8UC3, const_cast<uint8_t *>(rendered.rgb8.data()));
    std::vector<orvix::model::ModelDetection> detections;
    ASSERT_TRUE(model->Infer(rgb, detections));
    const FrameCheck check = checkDetections(
      rendered.labels, 640, 480, rig.world().objects(), detections, demoModelClasses());
    EXPECT_TRUE(check.false_detections.empty());
  }
  // A plain grey floor-and-wall image: nothing at all.
  cv::Mat grey(480, 640, CV_8UC3, cv::Scalar(205, 200, 185));
  grey.rowRange(0, 200).setTo(cv::Scalar(175, 195, 185));
  std::vector<orvix::model::ModelDetection> detections;
  ASSERT_TRUE(model->Infer(grey, detections));
  EXPECT_TRUE(detections.empty());
}

}  // namespace
}  // namespace nimbra_demo_scene
