#include <gtest/gtest.h>

#include <limits>

#include <opencv2/core.hpp>

#include "nimbra_model_zoo/non_max_suppression.hpp"

namespace orvix::model {
namespace {

TEST(IntersectionOverUnion, IsSymmetricAndMatchesTheArea) {
  struct Case {
    const char* name;
    cv::Rect2f a;
    cv::Rect2f b;
    float iou;
  };
  for (Case const& c : {Case{"identical", {0, 0, 10, 10}, {0, 0, 10, 10}, 1.0F},
                        Case{"apart", {0, 0, 10, 10}, {20, 0, 10, 10}, 0.0F},
                        Case{"touching", {0, 0, 10, 10}, {10, 0, 10, 10}, 0.0F},
                        Case{"half", {0, 0, 10, 10}, {5, 0, 10, 10}, 50.0F / 150.0F},
                        Case{"contained", {0, 0, 10, 10}, {2, 2, 5, 5}, 25.0F / 100.0F},
                        Case{"empty", {0, 0, 0, 0}, {0, 0, 0, 0}, 0.0F}}) {
    EXPECT_FLOAT_EQ(IntersectionOverUnion(c.a, c.b), c.iou) << c.name;
    EXPECT_FLOAT_EQ(IntersectionOverUnion(c.b, c.a), c.iou) << c.name;
  }
}

TEST(SuppressNonMaxima, Table) {
  float const nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<ScoredBox> boxes;
    float threshold;
    std::size_t max_kept;
    std::vector<std::size_t> kept;
  };
  Case const cases[] = {
      // Box 1 has IoU 0.82 with box 0 and wins; box 2 is in the same place, other class.
      {"overlaps within a class only",
       {{{0, 0, 10, 10}, 0.6F, 0}, {{1, 0, 10, 10}, 0.9F, 0}, {{1, 0, 10, 10}, 0.5F, 1},
        {{30, 30, 5, 5}, 0.4F, 0}},
       0.45F, 10, {1, 2, 3}},
      {"IoU 0.5 equal to the threshold: kept",
       {{{0, 0, 10, 10}, 0.9F, 0}, {{0, 0, 10, 5}, 0.8F, 0}}, 0.5F, 10, {0, 1}},
      {"IoU 0.5 over the threshold: dropped",
       {{{0, 0, 10, 10}, 0.9F, 0}, {{0, 0, 10, 5}, 0.8F, 0}}, 0.49F, 10, {0}},
      {"by score, input order on ties",
       {{{0, 0, 1, 1}, 0.5F, 0}, {{10, 0, 1, 1}, 0.7F, 0}, {{20, 0, 1, 1}, 0.5F, 0},
        {{30, 0, 1, 1}, 0.9F, 0}},
       0.45F, 10, {3, 1, 0, 2}},
      {"stops at max kept",
       {{{0, 0, 1, 1}, 0.5F, 0}, {{10, 0, 1, 1}, 0.7F, 0}, {{20, 0, 1, 1}, 0.6F, 1}}, 0.45F, 2,
       {1, 2}},
      {"max kept 0", {{{0, 0, 1, 1}, 0.5F, 0}}, 0.45F, 0, {}},
      {"no boxes", {}, 0.45F, 10, {}},
      {"NaN score last", {{{0, 0, 1, 1}, nan, 0}, {{10, 0, 1, 1}, 0.1F, 0}}, 0.45F, 10, {1, 0}},
  };
  for (Case const& c : cases) {
    EXPECT_EQ(SuppressNonMaxima(c.boxes, c.threshold, c.max_kept), c.kept) << c.name;
  }
}

TEST(SuppressNonMaxima, RandomBoxesMeetTheDefinition) {
  cv::RNG rng(42);
  float const threshold = 0.3F;
  for (int round = 0; round < 20; ++round) {
    std::vector<ScoredBox> boxes;
    for (int i = 0; i < 200; ++i) {
      boxes.push_back({{rng.uniform(0.0F, 100.0F), rng.uniform(0.0F, 100.0F),
                        rng.uniform(5.0F, 40.0F), rng.uniform(5.0F, 40.0F)},
                       rng.uniform(0.0F, 1.0F), rng.uniform(0, 3)});
    }
    std::vector<std::size_t> const kept = SuppressNonMaxima(boxes, threshold, boxes.size());
    std::vector<bool> is_kept(boxes.size(), false);
    for (std::size_t i = 0; i < kept.size(); ++i) {
      is_kept[kept[i]] = true;
      if (i > 0) {
        EXPECT_GE(boxes[kept[i - 1]].score, boxes[kept[i]].score);
      }
      for (std::size_t j = 0; j < i; ++j) {
        if (boxes[kept[i]].class_id == boxes[kept[j]].class_id) {
          EXPECT_LE(IntersectionOverUnion(boxes[kept[i]].box, boxes[kept[j]].box), threshold);
        }
      }
    }
    // Every dropped box overlaps a stronger kept box of its class.
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      bool explained = is_kept[i];
      for (std::size_t const k : kept) {
        explained |= boxes[k].class_id == boxes[i].class_id && boxes[k].score >= boxes[i].score &&
                     IntersectionOverUnion(boxes[k].box, boxes[i].box) > threshold;
      }
      EXPECT_TRUE(explained) << "box " << i << " dropped without a reason";
    }
  }
}

}  // namespace
}  // namespace orvix::model
