#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "nimbra_model_zoo/non_max_suppression.hpp"

namespace orvix::model {
namespace {

struct IouCase {
  cv::Rect2f a;
  cv::Rect2f b;
  float iou;
};

class IouTable : public ::testing::TestWithParam<IouCase> {};

TEST_P(IouTable, MatchesTheArea) {
  IouCase const& c = GetParam();
  EXPECT_FLOAT_EQ(IntersectionOverUnion(c.a, c.b), c.iou);
  EXPECT_FLOAT_EQ(IntersectionOverUnion(c.b, c.a), c.iou);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, IouTable,
    ::testing::Values(IouCase{{0, 0, 10, 10}, {0, 0, 10, 10}, 1.0F},        // identical
                      IouCase{{0, 0, 10, 10}, {20, 0, 10, 10}, 0.0F},       // apart
                      IouCase{{0, 0, 10, 10}, {10, 0, 10, 10}, 0.0F},       // touching
                      IouCase{{0, 0, 10, 10}, {5, 0, 10, 10}, 50.0F / 150.0F},
                      IouCase{{0, 0, 10, 10}, {2, 2, 5, 5}, 25.0F / 100.0F},  // contained
                      IouCase{{0, 0, 0, 0}, {0, 0, 0, 0}, 0.0F}));           // empty

std::vector<ScoredBox> Boxes(std::initializer_list<ScoredBox> boxes) { return boxes; }

TEST(SuppressNonMaxima, DropsOverlapsWithinAClassOnly) {
  auto const boxes = Boxes({{{0, 0, 10, 10}, 0.6F, 0},
                            {{1, 0, 10, 10}, 0.9F, 0},    // IoU 0.82 with box 0: wins over it
                            {{1, 0, 10, 10}, 0.5F, 1},    // same place, other class: kept
                            {{30, 30, 5, 5}, 0.4F, 0}});  // apart: kept
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.45F, 10), (std::vector<std::size_t>{1, 2, 3}));
}

TEST(SuppressNonMaxima, KeepsAnOverlapEqualToTheThreshold) {
  auto const boxes = Boxes({{{0, 0, 10, 10}, 0.9F, 0}, {{0, 0, 10, 5}, 0.8F, 0}});  // IoU 0.5
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.5F, 10).size(), 2U);
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.49F, 10).size(), 1U);
}

TEST(SuppressNonMaxima, OrdersByScoreAndKeepsInputOrderOnTies) {
  auto const boxes = Boxes({{{0, 0, 1, 1}, 0.5F, 0},
                            {{10, 0, 1, 1}, 0.7F, 0},
                            {{20, 0, 1, 1}, 0.5F, 0},
                            {{30, 0, 1, 1}, 0.9F, 0}});
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.45F, 10), (std::vector<std::size_t>{3, 1, 0, 2}));
}

TEST(SuppressNonMaxima, StopsAtMaxKept) {
  auto const boxes = Boxes({{{0, 0, 1, 1}, 0.5F, 0},
                            {{10, 0, 1, 1}, 0.7F, 0},
                            {{20, 0, 1, 1}, 0.6F, 1}});
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.45F, 2), (std::vector<std::size_t>{1, 2}));
  EXPECT_TRUE(SuppressNonMaxima(boxes, 0.45F, 0).empty());
  EXPECT_TRUE(SuppressNonMaxima({}, 0.45F, 10).empty());
}

TEST(SuppressNonMaxima, RanksNanScoresLast) {
  float const nan = std::numeric_limits<float>::quiet_NaN();
  auto const boxes = Boxes({{{0, 0, 1, 1}, nan, 0}, {{10, 0, 1, 1}, 0.1F, 0}});
  EXPECT_EQ(SuppressNonMaxima(boxes, 0.45F, 10), (std::vector<std::size_t>{1, 0}));
}

TEST(SuppressNonMaxima, RandomBoxesMeetTheDefinition) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> position(0.0F, 100.0F);
  std::uniform_real_distribution<float> extent(5.0F, 40.0F);
  std::uniform_real_distribution<float> score(0.0F, 1.0F);
  std::uniform_int_distribution<int> cls(0, 2);
  for (int round = 0; round < 20; ++round) {
    std::vector<ScoredBox> boxes;
    for (int i = 0; i < 200; ++i) {
      boxes.push_back({{position(rng), position(rng), extent(rng), extent(rng)}, score(rng),
                       cls(rng)});
    }
    float const threshold = 0.3F;
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
      if (is_kept[i]) {
        continue;
      }
      bool explained = false;
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
