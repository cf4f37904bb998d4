#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "nimbra_model_zoo/yolov8_seg.hpp"

// Networks with the output head of an Ultralytics YOLOv8-seg export (DFL, anchor decoding with
// broadcast constants, Split of box and class logits) on a fixed-output backbone; see
// scripts/generate_export_style_model.py. 640x640 input, 2 classes, 8400 anchors.

namespace orvix::model {
namespace {

std::string ExportModel(int opset, bool adapted) {
  return std::string(TEST_MODEL_DIR) + "/export_style_opset" + std::to_string(opset) +
         (adapted ? "_adapted" : "") + ".onnx";
}

YAML::Node Description(std::string const& model_file) {
  YAML::Node node = YAML::Load("model_name: yolov8_seg\nclass_mapping: {0: person, 1: chair}\n");
  node["model_file"] = model_file;
  return node;  // input size 640x640 by default
}

float Sigmoid(float logit) { return 1.0F / (1.0F + std::exp(-logit)); }

std::vector<ModelDetection> DetectOnWideImage(YOLOv8Seg& model) {
  std::vector<ModelDetection> detections;
  EXPECT_TRUE(model.Infer(cv::Mat(960, 1280, CV_8UC3, cv::Scalar(40, 80, 120)), detections))
      << model.LastError();
  return detections;
}

// The unadapted export, on OpenCV 4.6: opset 12, the Mul by the [1, 8400] strides constant fails at
// the first inference; opset 17, the Split sizes input is ignored, so the DFL Reshape fails in the
// importer. Its construction must then fail pointing to the adapter; an OpenCV that runs the graph
// must give the adapted graph's detections.
TEST(UltralyticsExport, AdaptedGivesTheDetectionsOfTheHeadUnadaptedThoseOrPointsToTheAdapter) {
  for (auto const& [opset, stage] :
       {std::pair{12, "inference failed"}, std::pair{17, "not a loadable ONNX model"}}) {
    SCOPED_TRACE("opset " + std::to_string(opset));
    // 1280x960 image into 640x640: scale 1/2, 80 input pixels of padding above and below, so
    // image x = 2 * input x and image y = 2 * (input y - 80). Firing anchors (input pixels):
    // stride 8 cell (10, 12) box (60, 84)-(116, 140) class 0 logit 2; stride 8 cell (11, 12) the
    // same box, class 0 logit 1.5 (suppressed); stride 16 cell (20, 8) box (296, 120)-(360, 184)
    // class 1 logit 1; stride 32 cell (15, 15) box (448, 448)-(544, 544) class 0 logit 0.
    YOLOv8Seg adapted(Description(ExportModel(opset, true)));
    EXPECT_EQ(adapted.ClassCount(), 2);
    std::vector<ModelDetection> const detections = DetectOnWideImage(adapted);
    // Masks (prototype pixel = 8x8 image pixels). Detection 0: prototype rows 24-31, columns 18-25,
    // inside its box; bilinear upsampling rounds each corner by 6 pixels. Detection 1: a region
    // larger than the box, cropped to it. Detection 2: a region exactly under the box, whose edges
    // therefore round its corners as those of detection 0.
    struct Expected {
      cv::Rect box;
      int class_id;
      float score;
      cv::Rect mask;
      int mask_pixels;
    };
    std::vector<Expected> const expected = {
        {{120, 8, 112, 112}, 0, Sigmoid(2.0F), {144, 32, 64, 64}, 64 * 64 - 4 * 6},
        {{592, 80, 128, 128}, 1, Sigmoid(1.0F), {592, 80, 128, 128}, 128 * 128},
        {{896, 736, 192, 192}, 0, 0.5F, {896, 736, 192, 192}, 192 * 192 - 4 * 6}};
    ASSERT_EQ(detections.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE("detection " + std::to_string(i));
      ModelDetection const& d = detections[i];
      EXPECT_EQ(cv::Rect2f(d.x, d.y, d.width, d.height), cv::Rect2f(expected[i].box));
      EXPECT_EQ(d.class_id, expected[i].class_id);
      EXPECT_FLOAT_EQ(d.score, expected[i].score);
      ASSERT_EQ(d.mask.size(), cv::Size(1280, 960));
      EXPECT_EQ(cv::boundingRect(d.mask), expected[i].mask);
      EXPECT_EQ(cv::countNonZero(d.mask), expected[i].mask_pixels);
      EXPECT_EQ(cv::countNonZero(d.mask == 255), expected[i].mask_pixels);
    }

    std::string const path = ExportModel(opset, false);
    std::unique_ptr<YOLOv8Seg> model;
    try {
      model = std::make_unique<YOLOv8Seg>(Description(path));
    } catch (ModelError const& e) {
      std::string const what = e.what();
      EXPECT_NE(what.find(path), std::string::npos) << what;
      EXPECT_NE(what.find(stage), std::string::npos) << what;
      EXPECT_NE(what.find("adapt_yolov8_export.py"), std::string::npos) << what;
      continue;
    }
    std::vector<ModelDetection> const actual = DetectOnWideImage(*model);
    ASSERT_EQ(actual.size(), detections.size());
    for (std::size_t i = 0; i < detections.size(); ++i) {
      EXPECT_EQ(actual[i].x, detections[i].x);
      EXPECT_EQ(actual[i].score, detections[i].score);
      EXPECT_EQ(cv::countNonZero(actual[i].mask != detections[i].mask), 0);
    }
  }
}

}  // namespace
}  // namespace orvix::model
