#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <opencv2/dnn.hpp>

#include "nimbra_model_zoo/yolov8_seg.hpp"

// Whole Infer calls on the generated fixed-output models (scripts/generate_test_models.py).
// Letterbox geometry, suppression, capping and mask placement are pinned by the unit tests, boxes
// and masks through the padding by the export-style network; here the pieces must be wired: keys
// reach the decoder, the network sees the image as described, errors name file and cause.

namespace orvix::model {
namespace {

namespace fs = std::filesystem;

std::string ModelPath(std::string const& name) {
  return std::string(TEST_MODEL_DIR) + "/" + name + ".onnx";
}

/// Description document for a generated 64x64 test model; `extra` adds or overrides keys.
YAML::Node Description(std::string const& model, std::string const& extra = "") {
  YAML::Node node = YAML::Load("model_name: yolov8_seg\nclass_mapping: {0: person}\n" + extra);
  node["model_file"] = ModelPath(model);
  node["input_width"] = 64;
  node["input_height"] = 64;
  return node;
}

/// Infer must succeed, clear the reason and replace what the vector held.
std::vector<ModelDetection> Detect(YOLOv8Seg& model, cv::Mat const& image) {
  std::vector<ModelDetection> detections(3);
  EXPECT_TRUE(model.Infer(image, detections)) << model.LastError();
  EXPECT_EQ(model.LastError(), "");
  return detections;
}

cv::Mat Image(int width, int height, cv::Scalar const& colour = cv::Scalar(90, 120, 30)) {
  return cv::Mat(height, width, CV_8UC3, colour);
}

// The boxes model's nine anchors, and what becomes of each, are listed in boxes_model() of
// scripts/generate_test_models.py. Boxes through the padding are checked on the export-style network.
TEST(YOLOv8SegBoxes, KeysOfTheDescriptionSelectTheInstances) {
  struct Case {
    std::string keys;
    std::vector<float> scores;
  };
  for (Case const& c :
       {Case{"", {0.90F, 0.70F, 0.60F, 0.25F}}, Case{"score_threshold: 0.65", {0.90F, 0.70F}},
        Case{"score_threshold: 0.91", {}},
        Case{"score_threshold: 0.2", {0.90F, 0.70F, 0.60F, 0.25F, 0.2499F}},
        Case{"nms_threshold: 0.9", {0.90F, 0.80F, 0.70F, 0.60F, 0.25F}},  // anchor 1: IoU 0.818
        Case{"max_detections: 2", {0.90F, 0.70F}}}) {
    YOLOv8Seg model(Description("boxes", c.keys));
    std::vector<float> scores;
    for (ModelDetection const& d : Detect(model, Image(256, 128))) {
      scores.push_back(d.score);
    }
    EXPECT_EQ(scores, c.scores) << c.keys;
  }
}

// probe model: one anchor, box (16,16)-(48,48), whose class c score is the mean of input channel c.
// A 64x32 image fills half of the 64x64 input; the other half is padding 114. A bad image gives a
// reason, and the next good one clears it.
TEST(YOLOv8SegInput, NetworkSeesRgbScaledToUnitWithGreyPaddingAndBadImagesGiveAReason) {
  float const half_pad = 0.5F * 114.0F / 255.0F;
  // A red region of interest in a green image: the network must see the region only.
  cv::Mat framed = Image(128, 64, cv::Scalar(0, 255, 0));
  cv::Mat region = framed(cv::Rect(32, 16, 64, 32));
  region.setTo(cv::Scalar(255, 0, 0));
  struct Case {
    std::string name;
    cv::Mat image;
    int class_id;
    float score;
    std::string reason;  ///< part of LastError() for a refused image
  };
  YOLOv8Seg model(Description("probe"));
  for (Case const& c :
       {Case{"red", Image(64, 32, cv::Scalar(255, 0, 0)), 0, 0.5F + half_pad, ""},
        Case{"empty", cv::Mat(), 0, 0.0F, "empty image"},
        Case{"blue", Image(64, 32, cv::Scalar(0, 0, 255)), 2, 0.5F + half_pad, ""},
        Case{"16UC3", cv::Mat(32, 64, CV_16UC3, cv::Scalar::all(1000)), 0, 0.0F, "16UC3"},
        Case{"dark blue", Image(64, 32, cv::Scalar(0, 0, 51)), 2, 0.1F + half_pad, ""},
        Case{"32FC3", cv::Mat(32, 64, CV_32FC3, cv::Scalar::all(0.5)), 0, 0.0F, "32FC3"},
        Case{"grey 8UC1", cv::Mat(32, 64, CV_8UC1, cv::Scalar(255)), 0, 0.5F + half_pad, ""},
        Case{"8UC2", cv::Mat(32, 64, CV_8UC2, cv::Scalar::all(1)), 0, 0.0F, "8UC2"},
        Case{"green 8UC4", cv::Mat(32, 64, CV_8UC4, cv::Scalar(0, 255, 0, 255)), 1,
             0.5F + half_pad, ""},
        Case{"region of interest", region, 0, 0.5F + half_pad, ""}}) {
    SCOPED_TRACE(c.name);
    std::vector<ModelDetection> detections(2);
    EXPECT_EQ(model.Infer(c.image, detections), c.reason.empty());
    if (!c.reason.empty()) {
      EXPECT_TRUE(detections.empty());
      EXPECT_NE(model.LastError().find(c.reason), std::string::npos) << model.LastError();
      continue;
    }
    EXPECT_EQ(model.LastError(), "");
    ASSERT_EQ(detections.size(), 1U);
    EXPECT_EQ(detections[0].class_id, c.class_id);
    // The network averages 4096 values in float.
    EXPECT_NEAR(detections[0].score, c.score, 1e-4F);
    EXPECT_EQ(
        cv::Rect2f(detections[0].x, detections[0].y, detections[0].width, detections[0].height),
        cv::Rect2f(16, 0, 32, 32));
  }
  // Tiny images are fine.
  Detect(model, Image(1, 1));
  Detect(model, Image(3000, 1));
}

TEST(YOLOv8SegErrors, ConstructionErrorsNameTheFileAndTheCause) {
  fs::path const not_onnx = fs::path(::testing::TempDir()) / "not_a_model.onnx";
  std::ofstream(not_onnx) << "this is not an ONNX model\n";
  bool const cuda = !cv::dnn::getAvailableTargets(cv::dnn::DNN_BACKEND_CUDA).empty();
  struct Case {
    std::string model_file;
    std::string extra;  ///< keys added to the description
    std::string description_file;
    std::vector<std::string> expected;  ///< parts of the message
  };
  std::string const bad_channels = ModelPath("bad_channels");
  std::string const bad_rank = ModelPath("bad_proto_rank");
  std::string const one_output = ModelPath("one_output");
  Case const cases[] = {
      {"does/not/exist.onnx", "", "/etc/robot/meta.yaml",
       {"/etc/robot/does/not/exist.onnx", "/etc/robot/meta.yaml", "does not exist"}},
      // Not an ONNX file at all: no hint about converting an export (checked below).
      {not_onnx.string(), "", "", {not_onnx.string(), "not a loadable ONNX model"}},
      {::testing::TempDir(), "", "", {"not a regular file"}},
      {bad_channels, "", "", {bad_channels, "1x30x8", "1x32x16x16", "expected"}},
      {bad_rank, "", "", {bad_rank, "1x39x8", "1x32x256", "expected"}},
      {one_output, "", "", {one_output, "[1x39x8]", "expected"}},
      {ModelPath("boxes"), "backend: cuda", "",
       {cuda ? "no error" : "backend \"cuda\" with target \"cuda\" is not available"}}};
  for (Case const& c : cases) {
    YAML::Node description = Description("boxes", c.extra);
    description["model_file"] = c.model_file;
    std::string what = "no error";
    try {
      YOLOv8Seg const model(description, c.description_file);
    } catch (ModelError const& e) {
      what = e.what();
    }
    for (std::string const& part : c.expected) {
      EXPECT_NE(what.find(part), std::string::npos) << what;
    }
    if (c.model_file == not_onnx.string()) {
      EXPECT_EQ(what.find("adapt_yolov8_export.py"), std::string::npos) << what;
    }
  }
}

TEST(YOLOv8SegFiles, FromFileResolvesTheModelBesideTheDescription) {
  fs::path const dir = fs::path(::testing::TempDir()) / "model_zoo_description";
  fs::create_directories(dir / "config");
  fs::path const relative = fs::relative(ModelPath("boxes"), dir / "config");
  ASSERT_TRUE(relative.is_relative());
  std::ofstream(dir / "config" / "meta.yaml")
      << "model_name: yolov8_seg\nmodel_file: " << relative.string()
      << "\ninput_width: 64\ninput_height: 64\n";
  std::shared_ptr<YOLOv8Seg> const model = YOLOv8Seg::FromFile((dir / "config/meta.yaml").string());
  EXPECT_TRUE(fs::equivalent(model->Config().model_file, ModelPath("boxes")));
  EXPECT_EQ(Detect(*model, Image(256, 128)).size(), 4U);
  EXPECT_THROW(YOLOv8Seg::FromFile((dir / "missing.yaml").string()), YAML::Exception);
}

// masks model: two instances with masks of different shapes.
TEST(YOLOv8SegThreads, InstancesRunInParallelAndCallsAreSerialised) {
  YOLOv8Seg boxes(Description("boxes"));
  YOLOv8Seg masks(Description("masks"));
  cv::Mat const image = Image(256, 128);
  std::vector<ModelDetection> const boxes_reference = Detect(boxes, image);
  std::vector<ModelDetection> const masks_reference = Detect(masks, image);
  // Every mask is a buffer of its own.
  std::vector<ModelDetection> const again = Detect(masks, image);
  ASSERT_EQ(masks_reference.size(), 2U);
  ASSERT_EQ(again.size(), 2U);
  EXPECT_NE(masks_reference[0].mask.data, masks_reference[1].mask.data);
  EXPECT_NE(masks_reference[0].mask.data, again[0].mask.data);
  EXPECT_GT(cv::countNonZero(masks_reference[0].mask), 0);

  auto const worker = [&image](YOLOv8Seg& model, std::vector<ModelDetection> const& reference,
                               int* mismatches) {
    for (int i = 0; i < 40; ++i) {
      std::vector<ModelDetection> detections;
      bool same = model.Infer(image, detections) && detections.size() == reference.size();
      for (std::size_t k = 0; same && k < reference.size(); ++k) {
        same = detections[k].x == reference[k].x && detections[k].score == reference[k].score &&
               cv::countNonZero(detections[k].mask != reference[k].mask) == 0;
      }
      *mismatches += same ? 0 : 1;
    }
  };
  int mismatches[4] = {0, 0, 0, 0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {  // two callers per instance: the second waits for the first
    threads.emplace_back(worker, std::ref(k % 2 == 0 ? boxes : masks),
                         std::cref(k % 2 == 0 ? boxes_reference : masks_reference), &mismatches[k]);
  }
  for (std::thread& t : threads) {
    t.join();
  }
  EXPECT_EQ(mismatches[0] + mismatches[1] + mismatches[2] + mismatches[3], 0);
}

}  // namespace
}  // namespace orvix::model
