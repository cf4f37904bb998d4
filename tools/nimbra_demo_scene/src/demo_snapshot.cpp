// demo_snapshot: renders one frame of the demo world per camera, runs the demo model on it and
// writes DIR/camera_0n.png: the colour image with the ground-truth boxes and the model's masks,
// and DIR/camera_0n.json: the frame's ground truth (nimbra_demo_scene::frameTruthJson).
//   demo_snapshot DIR [--model FILE] [--frame N] [--seed N] [--width W] [--height H]
// FILE is the demo model's ONNX file or a model description YAML naming it (default: the
// installed demo model). Prints, per object the model should find, the box and mask IoU.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nimbra_model_zoo/yolov8_seg.hpp>
#include <opencv2/imgcodecs.hpp>

#include "model_overlay.hpp"
#include "nimbra_demo_scene/demo_palette.hpp"
#include "nimbra_demo_scene/ground_truth.hpp"

namespace
{

int usage()
{
  std::fprintf(
    stderr, "usage: demo_snapshot DIR [--model FILE] [--frame N] [--seed N] [--width W] "
    "[--height H]\n");
  return 2;
}

std::shared_ptr<orvix::model::YOLOv8Seg> loadModel(const std::string & file)
{
  const std::string ext = std::filesystem::path(file).extension().string();
  if (ext == ".yaml" || ext == ".yml") {
    return orvix::model::YOLOv8Seg::FromFile(file);
  }
  YAML::Node description;
  description["model_file"] = file;
  return std::make_shared<orvix::model::YOLOv8Seg>(description);
}

}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 2 || argv[1][0] == '-') {
    return usage();
  }
  const std::string dir = argv[1];
  std::string model_file = DEMO_MODEL_INSTALLED;
  nimbra_demo_scene::DemoRig::Params params;
  uint64_t frame = 30;
  try {
    for (int i = 2; i < argc; i += 2) {
      const std::string key = argv[i];
      if (i + 1 >= argc) {
        return usage();
      }
      const std::string value = argv[i + 1];
      if (key == "--model") {
        model_file = value;
      } else if (key == "--frame") {
        frame = std::stoull(value);
      } else if (key == "--seed") {
        params.world.seed = static_cast<uint32_t>(std::stoul(value));
      } else if (key == "--width") {
        params.width = static_cast<uint32_t>(std::stoul(value));
      } else if (key == "--height") {
        params.height = static_cast<uint32_t>(std::stoul(value));
      } else {
        return usage();
      }
    }
    std::filesystem::create_directories(dir);
    auto model = loadModel(model_file);
    nimbra_demo_scene::DemoRig rig(params);
    const std::vector<std::string> classes = nimbra_demo_scene::demoModelClasses();
    for (size_t camera = 0; camera < rig.cameraCount(); ++camera) {
      const auto & rendered = rig.render(frame, camera);
      cv::Mat rgb(
        static_cast<int>(params.height), static_cast<int>(params.width), CV_8UC3,
        const_cast<uint8_t *>(rendered.rgb8.data()));
      std::vector<orvix::model::ModelDetection> detections;
      if (!model->Infer(rgb, detections)) {
        std::fprintf(stderr, "demo_snapshot: inference failed: %s\n", model->LastError().c_str());
        return 1;
      }
      const auto & objects = rig.world().objects();
      const std::string path = dir + "/camera_0" + std::to_string(camera + 1) + ".png";
      if (!cv::imwrite(
          path, nimbra_demo_scene::drawOverlay(
            rendered.rgb8, rendered.labels, params.width, params.height, objects, detections,
            classes)))
      {
        std::fprintf(stderr, "demo_snapshot: cannot write %s\n", path.c_str());
        return 1;
      }
      const std::string json_path = dir + "/camera_0" + std::to_string(camera + 1) + ".json";
      std::ofstream(json_path) << nimbra_demo_scene::frameTruthJson(rig, rendered);
      std::printf(
        "%s: frame %llu (t = %.1f s), %zu detections\n", path.c_str(),
        static_cast<unsigned long long>(frame), rendered.scene_t, detections.size());
      const auto check = nimbra_demo_scene::checkDetections(
        rendered.labels, params.width, params.height, objects, detections, classes);
      for (const auto & object : check.objects) {
        std::printf(
          "  %-16s %-14s %4ux%-4u found %-14s box IoU %.3f mask IoU %.3f\n", object.name.c_str(),
          object.expected_class.c_str(), object.region.width(), object.region.height(),
          object.detection < 0 ? "(missed)" : object.found_class.c_str(), object.box_iou,
          object.mask_iou);
      }
      for (const auto & wrong : check.false_detections) {
        std::printf("  false detection: %s\n", wrong.c_str());
      }
    }
  } catch (const std::exception & error) {
    std::fprintf(stderr, "demo_snapshot: %s\n", error.what());
    return 1;
  }
  return 0;
}
