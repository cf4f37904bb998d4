// The model's raw instances turned into detections, and the split of a frame's detections.
#include <gtest/gtest.h>

#include <yaml-cpp/yaml.h>

#include <array>
#include <string>
#include <vector>

#include "camera/detection_filter.hpp"
#include "common/semantic_type.hpp"

namespace nimbra::test
{
namespace
{

orvix::model::ModelDetection Raw(int32_t class_id, float score, float x, float width)
{
  orvix::model::ModelDetection raw;
  raw.class_id = class_id;
  raw.score = score;
  raw.x = x;
  raw.y = 2.0F;
  raw.width = width;
  raw.height = 3.0F;
  return raw;
}

TEST(DetectionFilter, ThresholdsTruncationAndUnknownClassIds)
{
  std::string error;
  const semantic::AiConfig config(YAML::Load(
      "class_mapping: {0: chair, 1: person, 2: paper, 3: carpet, 4: bottle}\n"
      "default_confidence_threshold: 0.5\nconfidence_threshold: {1: 0.75}\n"), YAML::Node(), error);
  ASSERT_TRUE(error.empty()) << error;
  const auto kept = filterModelDetections(1, {
      Raw(0, 0.5F, 10.7F, 5.6F),    // score equal to the threshold: kept; x2 = trunc(16.3)
      Raw(0, 0.49F, 0.0F, 1.0F),    // below: dropped
      Raw(1, 0.7F, 0.0F, 1.0F),     // below its own class threshold: dropped
      Raw(7, 0.01F, -0.5F, 1.0F),   // class beyond the table: INVALID, threshold 0, kept
    }, config);
  std::vector<std::array<int32_t, 5>> boxes;
  for (const Detection & d : kept) {
    boxes.push_back({static_cast<int32_t>(d.type), d.x1, d.y1, d.x2, d.y2});
  }
  // x1 of -0.5 truncates toward zero, not down.
  EXPECT_EQ(boxes, (std::vector<std::array<int32_t, 5>>{
      {semantic::CHAIR, 10, 2, 16, 5}, {semantic::INVALID, 0, 2, 0, 5}}));
}

TEST(DetectionFilter, TraditionalOnlyFramesKeepOnlyDangerousDetections)
{
  AiResult frame;
  frame.time = 4.5;
  for (auto type : {semantic::ESCALATOR_ENTRANCE, semantic::PERSON, semantic::COFFEE}) {
    frame.detections.push_back(Detection{{}, {}, 0.0F, 0, type});
  }
  const std::set<int32_t> dangerous{semantic::ESCALATOR_ENTRANCE, semantic::COFFEE};
  AiResult labelled;
  AiResult no_remove;
  splitDetections(frame, dangerous, false, labelled, no_remove);
  ASSERT_EQ(labelled.detections.size(), 1u);
  EXPECT_EQ(labelled.detections[0].type, semantic::PERSON);
  EXPECT_EQ(no_remove.detections.size(), 2u);
  splitDetections(frame, dangerous, true, labelled, no_remove);
  EXPECT_TRUE(labelled.detections.empty());
  ASSERT_EQ(no_remove.detections.size(), 2u);
  EXPECT_EQ(no_remove.detections[1].type, semantic::COFFEE);
  EXPECT_DOUBLE_EQ(no_remove.time, 4.5);
}

}  // namespace
}  // namespace nimbra::test
