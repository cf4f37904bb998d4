#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include <opencv2/imgproc.hpp>

#include "nimbra_model_zoo/segmentation_decoder.hpp"

namespace orvix::model {
namespace {

/// Raw outputs of a YOLOv8-seg network, written by hand: predictions [1, 4 + classes + mask
/// channels, anchors], prototypes [1, mask channels, h, w].
struct RawOutputs {
  RawOutputs(int classes_in, int anchors_in, int mask_channels, cv::Size proto_size)
      : classes(classes_in), anchors(anchors_in) {
    int const predictions_shape[] = {1, 4 + classes + mask_channels, anchors};
    predictions = cv::Mat::zeros(3, predictions_shape, CV_32F);
    int const prototypes_shape[] = {1, mask_channels, proto_size.height, proto_size.width};
    prototypes = cv::Mat::zeros(4, prototypes_shape, CV_32F);
  }

  float& Prediction(int row, int anchor) { return predictions.ptr<float>()[row * anchors + anchor]; }

  /// Plane `k` of the prototypes as a 2-D matrix sharing the data.
  cv::Mat Plane(int k) {
    return cv::Mat(prototypes.size[2], prototypes.size[3], CV_32F, prototypes.ptr<float>(0, k));
  }

  /// Anchor fires for `class_id` with box corners in network input pixels.
  void SetAnchor(int anchor, cv::Rect2f const& box, int class_id, float score) {
    Prediction(0, anchor) = box.x + box.width / 2;
    Prediction(1, anchor) = box.y + box.height / 2;
    Prediction(2, anchor) = box.width;
    Prediction(3, anchor) = box.height;
    Prediction(4 + class_id, anchor) = score;
  }

  float& Coefficient(int anchor, int channel) { return Prediction(4 + classes + channel, anchor); }

  int classes;
  int anchors;
  cv::Mat predictions;
  cv::Mat prototypes;
};

// The deployed geometry: 640x480 camera image, 640x640 input, 160x160 prototypes. The image sits
// 80 input pixels below the top, so prototype column c covers image x [4c, 4c + 4) and prototype
// row r image y [4r - 80, 4r - 76).
Letterbox const kCamera(cv::Size(640, 480), cv::Size(640, 640));

TEST(SegmentationDecoder, MaskFollowsThePrototypesInsideTheBox) {
  struct Case {
    const char* name;
    cv::Rect proto_region;  ///< prototype pixels set on, in prototype pixels
    cv::Rect2f box;         ///< instance box in input pixels
    cv::Rect expected;      ///< bounding rectangle of the mask, image pixels
    int rounded_corners;    ///< region corners inside the box and the prototype grid
  };
  for (Case const& c : {
           Case{"region inside the box", {10, 30, 20, 15}, {20, 100, 200, 200}, {40, 40, 80, 60},
                4},
           // Pixel centres inside the box.
           Case{"region cropped by the box", {0, 20, 160, 120}, {100.2F, 150.7F, 50.0F, 40.0F},
                {100, 71, 50, 40}, 0},
           // The prototype grid ends at the image's right edge; its rows go on into the padding.
           Case{"bottom-right image corner", {150, 130, 10, 10}, {560, 480, 80, 80},
                {600, 440, 40, 40}, 2},
           Case{"box beyond the image: clipped", {0, 0, 160, 160}, {-30, 60, 100, 30},
                {0, 0, 70, 10}, 0}}) {
    SCOPED_TRACE(c.name);
    RawOutputs raw(2, 1, 32, cv::Size(160, 160));
    raw.SetAnchor(0, c.box, 1, 0.9F);
    raw.Coefficient(0, 5) = 2.0F;
    raw.Plane(5).setTo(-5.0F);
    raw.Plane(5)(c.proto_region).setTo(5.0F);
    SegmentationDecoder decoder;
    std::vector<ModelDetection> detections;
    ASSERT_TRUE(decoder.Decode(raw.predictions, raw.prototypes, kCamera, detections));
    ASSERT_EQ(detections.size(), 1U);
    cv::Mat const& mask = detections[0].mask;
    ASSERT_EQ(mask.type(), CV_8UC1);
    ASSERT_EQ(mask.size(), cv::Size(640, 480));
    // Bilinear upsampling by 4 leaves the outermost pixel of such a corner below 0.5.
    int const on_pixels = c.expected.area() - c.rounded_corners;
    EXPECT_EQ(cv::boundingRect(mask), c.expected);
    EXPECT_EQ(cv::countNonZero(mask), on_pixels);
    EXPECT_EQ(cv::countNonZero(mask == 255), on_pixels);
  }
}

TEST(SegmentationDecoder, MapsBoxesBackAndClipsThem) {
  RawOutputs raw(3, 3, 32, cv::Size(160, 160));
  raw.SetAnchor(0, {100, 180, 40, 60}, 2, 0.8F);   // inside the image
  raw.SetAnchor(1, {600, 50, 60, 60}, 0, 0.7F);    // over the right and top edges
  raw.SetAnchor(2, {10, 10, 50, 50}, 1, 0.95F);    // in the top padding only
  SegmentationDecoder decoder;
  std::vector<ModelDetection> detections;
  ASSERT_TRUE(decoder.Decode(raw.predictions, raw.prototypes, kCamera, detections));
  std::vector<std::tuple<cv::Rect2f, int, float>> boxes;
  for (ModelDetection const& d : detections) {
    boxes.emplace_back(cv::Rect2f(d.x, d.y, d.width, d.height), d.class_id, d.score);
  }
  EXPECT_EQ(boxes, (std::vector<std::tuple<cv::Rect2f, int, float>>{
                       {{100, 100, 40, 60}, 2, 0.8F}, {{600, 0, 40, 30}, 0, 0.7F}}));
}

TEST(SegmentationDecoder, MaskThresholdAppliesToTheProbability) {
  RawOutputs raw(1, 1, 32, cv::Size(160, 160));
  raw.SetAnchor(0, {100, 200, 20, 20}, 0, 0.9F);
  raw.Coefficient(0, 0) = 1.0F;
  raw.Plane(0).setTo(std::log(0.6F / 0.4F));  // probability 0.6 everywhere
  std::vector<ModelDetection> detections;
  for (auto const& [threshold, on_pixels] : {std::pair{0.5F, 400}, std::pair{0.7F, 0}}) {
    DecoderParams params;
    params.mask_threshold = threshold;
    SegmentationDecoder decoder(params);
    ASSERT_TRUE(decoder.Decode(raw.predictions, raw.prototypes, kCamera, detections));
    ASSERT_EQ(detections.size(), 1U);
    EXPECT_EQ(cv::countNonZero(detections[0].mask), on_pixels) << "threshold " << threshold;
  }
}

TEST(SegmentationDecoder, AcceptsOnlyTheYoloV8SegLayout) {
  struct Case {
    std::vector<int> predictions;
    std::vector<int> prototypes;
    int type;
    bool valid;
  };
  for (Case const& c : {Case{{1, 116, 8400}, {1, 32, 160, 160}, CV_32F, true},
                        Case{{1, 37, 5}, {1, 32, 160, 160}, CV_32F, true},       // one class
                        Case{{1, 36, 5}, {1, 32, 160, 160}, CV_32F, false},      // no class
                        Case{{2, 116, 8400}, {2, 32, 160, 160}, CV_32F, false},  // batch 2
                        Case{{116, 8400}, {1, 32, 160, 160}, CV_32F, false},     // rank 2
                        Case{{1, 116, 8400}, {1, 32, 25600}, CV_32F, false},     // rank 3
                        Case{{1, 116, 8400}, {1, 32, 160, 160}, CV_64F, false}}) {
    cv::Mat const predictions(static_cast<int>(c.predictions.size()), c.predictions.data(), c.type,
                              cv::Scalar::all(0));
    cv::Mat const prototypes(static_cast<int>(c.prototypes.size()), c.prototypes.data(), CV_32F,
                             cv::Scalar::all(0));
    std::string error;
    std::string const shapes[] = {SegmentationDecoder::ShapeText(predictions),
                                  SegmentationDecoder::ShapeText(prototypes)};
    SCOPED_TRACE(shapes[0]);
    EXPECT_EQ(SegmentationDecoder::CheckShapes(predictions, prototypes, &error), c.valid);
    if (!c.valid) {
      EXPECT_NE(error.find(shapes[0]), std::string::npos) << error;
      EXPECT_NE(error.find(shapes[1]), std::string::npos) << error;
      SegmentationDecoder decoder;
      std::vector<ModelDetection> detections(2);
      EXPECT_FALSE(decoder.Decode(predictions, prototypes, kCamera, detections));
      EXPECT_TRUE(detections.empty());
    }
  }
}

TEST(SegmentationDecoder, RandomOutputsGiveConsistentDetections) {
  float const specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30F, -1e30F};
  DecoderParams params;
  params.max_detections = 30;
  SegmentationDecoder decoder(params);
  cv::RNG rng(11);
  for (int round = 0; round < 10; ++round) {
    RawOutputs raw(5, 400, 32, cv::Size(160, 160));
    rng.fill(raw.prototypes, cv::RNG::NORMAL, 0.0, 2.0);
    // Prediction rows: box centres, box sizes (some negative), class scores, mask coefficients.
    cv::Mat rows(4 + raw.classes + 32, raw.anchors, CV_32F, raw.predictions.ptr<float>());
    rng.fill(rows.rowRange(0, 2), cv::RNG::UNIFORM, -100.0, 740.0);
    rng.fill(rows.rowRange(2, 4), cv::RNG::UNIFORM, -10.0, 300.0);
    rng.fill(rows.rowRange(4, 4 + raw.classes), cv::RNG::UNIFORM, 0.0, 0.6);
    rng.fill(rows.rowRange(4 + raw.classes, rows.rows), cv::RNG::NORMAL, 0.0, 3.0);
    for (int i = 0; i < 200; ++i) {
      rows.at<float>(rng.uniform(0, static_cast<int>(rows.total()))) = specials[rng.uniform(0, 5)];
    }
    cv::Size const image_size(200 + round * 97, 100 + round * 61);
    Letterbox const letterbox(image_size, cv::Size(640, 640));
    std::vector<ModelDetection> detections;
    ASSERT_TRUE(decoder.Decode(raw.predictions, raw.prototypes, letterbox, detections));
    EXPECT_LE(detections.size(), 30U);
    for (std::size_t i = 0; i < detections.size(); ++i) {
      ModelDetection const& d = detections[i];
      EXPECT_GE(d.score, params.score_threshold);
      if (i > 0) {
        EXPECT_LE(d.score, detections[i - 1].score);
      }
      EXPECT_GE(d.class_id, 0);
      EXPECT_LT(d.class_id, raw.classes);
      // A box with area, inside the image.
      cv::Rect2f const box(d.x, d.y, d.width, d.height);
      EXPECT_FALSE(box.empty());
      EXPECT_EQ(box & cv::Rect2f(0.0F, 0.0F, image_size.width + 1e-3F, image_size.height + 1e-3F), box);
      ASSERT_EQ(d.mask.size(), image_size);
      ASSERT_EQ(d.mask.type(), CV_8UC1);
      // Nothing outside the pixels whose centres lie in the box.
      cv::Point const first(static_cast<int>(std::ceil(d.x - 0.5F)),
                            static_cast<int>(std::ceil(d.y - 0.5F)));
      cv::Point const end(static_cast<int>(std::floor(d.x + d.width - 0.5F)) + 1,
                          static_cast<int>(std::floor(d.y + d.height - 0.5F)) + 1);
      cv::Mat outside = d.mask.clone();
      outside(cv::Rect(first, end) & cv::Rect(cv::Point(), image_size)).setTo(0);
      EXPECT_EQ(cv::countNonZero(outside), 0);
    }
  }
}

}  // namespace
}  // namespace orvix::model
