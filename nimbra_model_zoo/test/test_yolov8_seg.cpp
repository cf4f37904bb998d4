#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "nimbra_model_zoo/yolov8_seg.hpp"

namespace orvix::model {
namespace {

namespace fs = std::filesystem;

std::string ModelPath(std::string const& name) {
  return std::string(TEST_MODEL_DIR) + "/" + name + ".onnx";
}

/// Description document for a generated test model; `extra` adds or overrides keys.
YAML::Node Description(std::string const& model, std::string const& extra = "") {
  YAML::Node node = YAML::Load("model_name: yolov8_seg\nclass_mapping: {0: person}\n" + extra);
  node["model_file"] = ModelPath(model);
  node["input_width"] = model == "many" ? 128 : 64;
  node["input_height"] = model == "many" ? 128 : 64;
  return node;
}

std::vector<ModelDetection> Detect(YOLOv8Seg& model, cv::Mat const& image) {
  std::vector<ModelDetection> detections;
  EXPECT_TRUE(model.Infer(image, detections)) << model.LastError();
  EXPECT_EQ(model.LastError(), "");
  return detections;
}

cv::Mat Image(int width, int height, cv::Scalar const& colour = cv::Scalar(90, 120, 30)) {
  return cv::Mat(height, width, CV_8UC3, colour);
}

struct ExpectedBox {
  float x, y, width, height;
  int class_id;
  float score;
};

void ExpectBoxes(std::vector<ModelDetection> const& detections,
                 std::vector<ExpectedBox> const& expected) {
  ASSERT_EQ(detections.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("detection " + std::to_string(i));
    EXPECT_FLOAT_EQ(detections[i].x, expected[i].x);
    EXPECT_FLOAT_EQ(detections[i].y, expected[i].y);
    EXPECT_FLOAT_EQ(detections[i].width, expected[i].width);
    EXPECT_FLOAT_EQ(detections[i].height, expected[i].height);
    EXPECT_EQ(detections[i].class_id, expected[i].class_id);
    EXPECT_FLOAT_EQ(detections[i].score, expected[i].score);
  }
}

// The boxes model holds nine anchors (input pixels, see the generator): 0 (10,20)-(30,40) class 0
// 0.90; 1 (12,20)-(32,40) class 0 0.80, IoU 0.818 with 0; 2 same box class 1 0.70; 3 (40,20)-(60,30)
// class 2 0.25; 4 (40,34)-(60,44) class 2 0.2499; 5 (50,10)-(70,30) class 0 0.60; 6 (10,2)-(20,12)
// class 1 0.95; 7 scores NaN; 8 box NaN.

TEST(YOLOv8SegBoxes, WideImageMapsBoxesThroughTheVerticalPadding) {
  // 256x128 into 64x64: scale 1/4, 16 px above: x = 4 * input x, y = 4 * (input y - 16).
  YOLOv8Seg model(Description("boxes"));
  EXPECT_EQ(model.ClassCount(), 3);
  ExpectBoxes(Detect(model, Image(256, 128)), {{40, 16, 80, 80, 0, 0.90F},    // anchor 0
                                               {48, 16, 80, 80, 1, 0.70F},    // anchor 2
                                               {200, 0, 56, 56, 0, 0.60F},    // anchor 5, clipped
                                               {160, 16, 80, 40, 2, 0.25F}});  // anchor 3
}

TEST(YOLOv8SegBoxes, TallImageMapsBoxesThroughTheHorizontalPadding) {
  // 128x256 into 64x64: scale 1/4, 16 px left: x = 4 * (input x - 16), y = 4 * input y.
  // Anchor 6 now lies on the image; anchor 5 lies in the right padding.
  YOLOv8Seg model(Description("boxes"));
  ExpectBoxes(Detect(model, Image(128, 256)), {{0, 8, 16, 40, 1, 0.95F},      // anchor 6
                                               {0, 80, 56, 80, 0, 0.90F},     // anchor 0
                                               {0, 80, 64, 80, 1, 0.70F},     // anchor 2
                                               {96, 80, 32, 40, 2, 0.25F}});  // anchor 3
}

struct ThresholdCase {
  std::string keys;
  std::vector<float> scores;
};

class YOLOv8SegThresholds : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(YOLOv8SegThresholds, SelectTheInstances) {
  YOLOv8Seg model(Description("boxes", GetParam().keys));
  std::vector<float> scores;
  for (ModelDetection const& d : Detect(model, Image(256, 128))) {
    scores.push_back(d.score);
  }
  EXPECT_EQ(scores, GetParam().scores);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, YOLOv8SegThresholds,
    ::testing::Values(ThresholdCase{"", {0.90F, 0.70F, 0.60F, 0.25F}},
                      ThresholdCase{"score_threshold: 0.65", {0.90F, 0.70F}},
                      ThresholdCase{"score_threshold: 0.91", {}},
                      ThresholdCase{"score_threshold: 0.2", {0.90F, 0.70F, 0.60F, 0.25F, 0.2499F}},
                      // Anchor 1 overlaps anchor 0 with IoU 0.818.
                      ThresholdCase{"nms_threshold: 0.9", {0.90F, 0.80F, 0.70F, 0.60F, 0.25F}},
                      ThresholdCase{"max_detections: 2", {0.90F, 0.70F}}));

TEST(YOLOv8SegMasks, PlacesAndSizesMasksInTheImage) {
  // masks model: anchor 0 box (8,20)-(40,44) with a region of prototype rows 6-9, columns 3-7 inside
  // it; anchor 1 box (44,24)-(60,40) with a region (rows 5-12, columns 10-15) larger than the box.
  // The first region's edges lie inside its box, so bilinear upsampling rounds its four corners:
  // with 16 image pixels per prototype pixel 23 pixels per corner fall below 0.5, with 8 pixels 6.
  // The box crops the second region on all sides, which leaves its corners square.
  struct Case {
    cv::Size image;
    cv::Rect first;
    int first_corner_cut;
    cv::Rect second;
  };
  // 256x128: prototype column c covers x [16c, 16c + 16), row r covers y [16(r - 4), 16(r - 3)).
  // 128x64: half of that.
  for (Case const& c : {Case{{256, 128}, {48, 32, 80, 64}, 23, {176, 32, 64, 64}},
                        Case{{128, 64}, {24, 16, 40, 32}, 6, {88, 16, 32, 32}}}) {
    SCOPED_TRACE("image " + std::to_string(c.image.width) + "x" + std::to_string(c.image.height));
    YOLOv8Seg model(Description("masks"));
    std::vector<ModelDetection> const detections = Detect(model, Image(c.image.width, c.image.height));
    ASSERT_EQ(detections.size(), 2U);
    for (std::size_t i = 0; i < 2; ++i) {
      cv::Mat const& mask = detections[i].mask;
      cv::Rect const& expected = i == 0 ? c.first : c.second;
      int const on_pixels = expected.area() - (i == 0 ? 4 * c.first_corner_cut : 0);
      ASSERT_EQ(mask.type(), CV_8UC1);
      ASSERT_EQ(mask.size(), c.image);
      EXPECT_EQ(cv::boundingRect(mask), expected) << "detection " << i;
      EXPECT_EQ(cv::countNonZero(mask == 255), on_pixels) << "detection " << i;
      EXPECT_EQ(cv::countNonZero(mask), on_pixels) << "detection " << i;
    }
  }
}

TEST(YOLOv8SegMasks, MasksAreIndependentBuffers) {
  YOLOv8Seg model(Description("masks"));
  std::vector<ModelDetection> const first = Detect(model, Image(256, 128));
  std::vector<ModelDetection> const second = Detect(model, Image(256, 128));
  ASSERT_EQ(first.size(), 2U);
  ASSERT_EQ(second.size(), 2U);
  EXPECT_NE(first[0].mask.data, first[1].mask.data);
  EXPECT_NE(first[0].mask.data, second[0].mask.data);
  EXPECT_EQ(cv::countNonZero(first[0].mask != second[0].mask), 0);
}

TEST(YOLOv8SegCounts, NoDetections) {
  YOLOv8Seg model(Description("empty"));
  std::vector<ModelDetection> detections(3);
  EXPECT_TRUE(model.Infer(Image(640, 480), detections));
  EXPECT_TRUE(detections.empty());
}

TEST(YOLOv8SegCounts, ManyDetectionsAreCappedAndSorted) {
  // many model, 128x128 input and image: box i at (8 (i % 16) + 1, 8 (i / 16) + 1), 6x6, class
  // i % 2, score 0.30 + 0.002 i, mask = box.
  for (auto const& [keys, count] : {std::pair<std::string, std::size_t>{"", 100},
                                    std::pair<std::string, std::size_t>{"max_detections: 300", 256}}) {
    YOLOv8Seg model(Description("many", keys));
    std::vector<ModelDetection> const detections = Detect(model, Image(128, 128));
    ASSERT_EQ(detections.size(), count);
    for (std::size_t j = 0; j < detections.size(); ++j) {
      int const i = 255 - static_cast<int>(j);
      ModelDetection const& d = detections[j];
      SCOPED_TRACE("box " + std::to_string(i));
      EXPECT_FLOAT_EQ(d.x, 8.0F * (i % 16) + 1.0F);
      EXPECT_FLOAT_EQ(d.y, 8.0F * (i / 16) + 1.0F);
      EXPECT_FLOAT_EQ(d.width, 6.0F);
      EXPECT_FLOAT_EQ(d.height, 6.0F);
      EXPECT_EQ(d.class_id, i % 2);
      EXPECT_NEAR(d.score, 0.30F + 0.002F * i, 1e-6F);
      EXPECT_EQ(cv::boundingRect(d.mask), cv::Rect(8 * (i % 16) + 1, 8 * (i / 16) + 1, 6, 6));
      EXPECT_EQ(cv::countNonZero(d.mask), 36);
    }
  }
}

// probe model: one anchor, box (16,16)-(48,48), whose class c score is the mean of input channel c.
struct ProbeCase {
  std::string name;
  cv::Mat image;
  int class_id;
  float score;
};

TEST(YOLOv8SegInput, NetworkSeesRgbScaledToUnitWithGreyPadding) {
  // A 64x32 image fills half of the 64x64 input; the other half is padding 114.
  float const half_pad = 0.5F * 114.0F / 255.0F;
  cv::Mat grey(32, 64, CV_8UC1, cv::Scalar(255));
  cv::Mat rgba(32, 64, CV_8UC4, cv::Scalar(0, 255, 0, 255));
  for (ProbeCase const& c :
       {ProbeCase{"red", Image(64, 32, cv::Scalar(255, 0, 0)), 0, 0.5F + half_pad},
        ProbeCase{"blue", Image(64, 32, cv::Scalar(0, 0, 255)), 2, 0.5F + half_pad},
        ProbeCase{"dark blue", Image(64, 32, cv::Scalar(0, 0, 51)), 2, 0.1F + half_pad},
        ProbeCase{"grey 8UC1", grey, 0, 0.5F + half_pad},
        ProbeCase{"green 8UC4", rgba, 1, 0.5F + half_pad}}) {
    SCOPED_TRACE(c.name);
    YOLOv8Seg model(Description("probe"));
    std::vector<ModelDetection> const detections = Detect(model, c.image);
    ASSERT_EQ(detections.size(), 1U);
    EXPECT_EQ(detections[0].class_id, c.class_id);
    // The network averages 4096 values in float.
    EXPECT_NEAR(detections[0].score, c.score, 1e-4F);
    EXPECT_FLOAT_EQ(detections[0].x, 16.0F);
    EXPECT_FLOAT_EQ(detections[0].y, 0.0F);
    EXPECT_FLOAT_EQ(detections[0].width, 32.0F);
    EXPECT_FLOAT_EQ(detections[0].height, 32.0F);
  }
}

TEST(YOLOv8SegInput, RejectsEmptyAndUnsupportedImagesWithAReason) {
  YOLOv8Seg model(Description("boxes"));
  struct Case {
    cv::Mat image;
    std::string reason;
  };
  for (Case const& c : {Case{cv::Mat(), "empty image"},
                        Case{cv::Mat(128, 256, CV_16UC3, cv::Scalar::all(1000)), "16UC3"},
                        Case{cv::Mat(128, 256, CV_32FC3, cv::Scalar::all(0.5)), "32FC3"},
                        Case{cv::Mat(128, 256, CV_8UC2, cv::Scalar::all(1)), "8UC2"}}) {
    std::vector<ModelDetection> detections(2);
    EXPECT_FALSE(model.Infer(c.image, detections));
    EXPECT_TRUE(detections.empty());
    EXPECT_NE(model.LastError().find(c.reason), std::string::npos) << model.LastError();
  }
  // The next good image clears the reason.
  EXPECT_EQ(Detect(model, Image(256, 128)).size(), 4U);
}

TEST(YOLOv8SegInput, AcceptsNonContinuousAndTinyImages) {
  YOLOv8Seg model(Description("boxes"));
  cv::Mat const large = Image(512, 256);
  std::vector<ModelDetection> const from_roi = Detect(model, large(cv::Rect(100, 50, 256, 128)));
  EXPECT_EQ(from_roi.size(), 4U);
  std::vector<ModelDetection> detections;
  EXPECT_TRUE(model.Infer(Image(1, 1), detections));
  EXPECT_TRUE(model.Infer(Image(3000, 1), detections));
}

std::string ConstructionError(YAML::Node const& description, std::string const& file = "") {
  try {
    YOLOv8Seg const model(description, file);
  } catch (ModelError const& e) {
    return e.what();
  }
  return "no error";
}

TEST(YOLOv8SegErrors, MissingModelFileNamesThePath) {
  YAML::Node description = Description("boxes");
  description["model_file"] = "does/not/exist.onnx";
  std::string const what = ConstructionError(description, "/etc/robot/meta.yaml");
  EXPECT_NE(what.find("/etc/robot/does/not/exist.onnx"), std::string::npos) << what;
  EXPECT_NE(what.find("/etc/robot/meta.yaml"), std::string::npos) << what;
  EXPECT_NE(what.find("does not exist"), std::string::npos) << what;
}

TEST(YOLOv8SegErrors, UnreadableModelFileNamesThePath) {
  fs::path const path = fs::path(::testing::TempDir()) / "not_a_model.onnx";
  std::ofstream(path) << "this is not an ONNX model\n";
  YAML::Node description = Description("boxes");
  description["model_file"] = path.string();
  std::string const what = ConstructionError(description);
  EXPECT_NE(what.find(path.string()), std::string::npos) << what;
  EXPECT_NE(what.find("not a loadable ONNX model"), std::string::npos) << what;
  // Not an ONNX file at all: no hint about converting an export.
  EXPECT_EQ(what.find("adapt_yolov8_export.py"), std::string::npos) << what;

  description["model_file"] = ::testing::TempDir();  // a directory
  EXPECT_NE(ConstructionError(description).find("not a regular file"), std::string::npos);
}

struct BadOutputCase {
  std::string model;
  std::vector<std::string> shapes;
};

class YOLOv8SegBadOutputs : public ::testing::TestWithParam<BadOutputCase> {};

TEST_P(YOLOv8SegBadOutputs, FailConstructionNamingFileAndShapes) {
  std::string const what = ConstructionError(Description(GetParam().model));
  EXPECT_NE(what.find(ModelPath(GetParam().model)), std::string::npos) << what;
  for (std::string const& shape : GetParam().shapes) {
    EXPECT_NE(what.find(shape), std::string::npos) << what;
  }
  EXPECT_NE(what.find("expected"), std::string::npos) << what;
}

INSTANTIATE_TEST_SUITE_P(
    Models, YOLOv8SegBadOutputs,
    ::testing::Values(BadOutputCase{"bad_channels", {"1x30x8", "1x32x16x16"}},
                      BadOutputCase{"bad_proto_rank", {"1x39x8", "1x32x256"}},
                      BadOutputCase{"one_output", {"[1x39x8]"}}));

TEST(YOLOv8SegErrors, UnavailableBackendFailsConstruction) {
  if (!cv::dnn::getAvailableTargets(cv::dnn::DNN_BACKEND_CUDA).empty()) {
    GTEST_SKIP() << "this OpenCV build has the CUDA backend";
  }
  std::string const what = ConstructionError(Description("boxes", "backend: cuda"));
  EXPECT_NE(what.find("backend \"cuda\" with target \"cuda\" is not available"),
            std::string::npos) << what;
}

TEST(YOLOv8SegFiles, FromFileResolvesTheModelBesideTheDescription) {
  fs::path const dir = fs::path(::testing::TempDir()) / "model_zoo_description";
  fs::create_directories(dir / "config");
  fs::path const relative = fs::relative(ModelPath("boxes"), dir / "config");
  ASSERT_TRUE(relative.is_relative());
  {
    std::ofstream meta(dir / "config" / "meta.yaml");
    meta << "model_name: yolov8_seg\nmodel_file: " << relative.string()
         << "\ninput_width: 64\ninput_height: 64\n";
  }
  std::shared_ptr<YOLOv8Seg> const model = YOLOv8Seg::FromFile((dir / "config/meta.yaml").string());
  EXPECT_TRUE(fs::equivalent(model->Config().model_file, ModelPath("boxes")));
  EXPECT_EQ(Detect(*model, Image(256, 128)).size(), 4U);
  EXPECT_THROW(YOLOv8Seg::FromFile((dir / "missing.yaml").string()), YAML::Exception);
}

TEST(YOLOv8SegThreads, InstancesRunInParallelAndCallsAreSerialised) {
  YOLOv8Seg boxes(Description("boxes"));
  YOLOv8Seg masks(Description("masks"));
  cv::Mat const image = Image(256, 128);
  std::vector<ModelDetection> const boxes_reference = Detect(boxes, image);
  std::vector<ModelDetection> const masks_reference = Detect(masks, image);

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
  threads.emplace_back(worker, std::ref(boxes), std::cref(boxes_reference), &mismatches[0]);
  threads.emplace_back(worker, std::ref(masks), std::cref(masks_reference), &mismatches[1]);
  // A second caller of the same instance waits for the first.
  threads.emplace_back(worker, std::ref(boxes), std::cref(boxes_reference), &mismatches[2]);
  threads.emplace_back(worker, std::ref(masks), std::cref(masks_reference), &mismatches[3]);
  for (std::thread& t : threads) {
    t.join();
  }
  EXPECT_EQ(mismatches[0] + mismatches[1] + mismatches[2] + mismatches[3], 0);
}

}  // namespace
}  // namespace orvix::model
