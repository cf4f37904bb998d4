#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tracker/hungarian_algorithm.hpp"

namespace orvix
{
namespace perception
{
namespace
{

using Matrix = std::vector<std::vector<double>>;

// Smallest total over every way of pairing min(rows, cols) rows with distinct columns.
double BruteForceMinimum(const Matrix & cost)
{
  const std::size_t rows = cost.size();
  const std::size_t cols = rows == 0 ? 0 : cost[0].size();
  if (rows == 0 || cols == 0) {
    return 0.0;
  }
  const bool by_rows = rows <= cols;
  const std::size_t small = by_rows ? rows : cols;
  const std::size_t large = by_rows ? cols : rows;
  std::vector<std::size_t> order(large);
  std::iota(order.begin(), order.end(), 0);
  double best = std::numeric_limits<double>::infinity();
  do {
    double total = 0.0;
    for (std::size_t i = 0; i < small; ++i) {
      total += by_rows ? cost[i][order[i]] : cost[order[i]][i];
    }
    best = std::min(best, total);
  } while (std::next_permutation(order.begin(), order.end()));
  return best;
}

// Checks that the assignment uses each column at most once and assigns min(rows, cols) rows;
// returns the summed cost.
double CheckAssignment(const Matrix & cost, const std::vector<int32_t> & assignment)
{
  const std::size_t rows = cost.size();
  const std::size_t cols = rows == 0 ? 0 : cost[0].size();
  EXPECT_EQ(assignment.size(), rows);
  std::vector<bool> used(cols, false);
  std::size_t assigned = 0;
  double total = 0.0;
  for (std::size_t row = 0; row < assignment.size(); ++row) {
    const int32_t col = assignment[row];
    if (col < 0) {
      EXPECT_EQ(col, -1);
      continue;
    }
    EXPECT_LT(static_cast<std::size_t>(col), cols);
    EXPECT_FALSE(used[static_cast<std::size_t>(col)]) << "column " << col << " used twice";
    used[static_cast<std::size_t>(col)] = true;
    total += cost[row][static_cast<std::size_t>(col)];
    ++assigned;
  }
  EXPECT_EQ(assigned, std::min(rows, cols));
  return total;
}

Matrix RandomMatrix(std::mt19937 & rng, std::size_t rows, std::size_t cols, bool integer_costs)
{
  std::uniform_real_distribution<double> real(0.0, 10.0);
  std::uniform_int_distribution<int> small_int(0, 4);  // many ties
  Matrix cost(rows, std::vector<double>(cols));
  for (auto & row : cost) {
    for (auto & value : row) {
      value = integer_costs ? small_int(rng) : real(rng);
    }
  }
  return cost;
}

// Planar distances between random tracks and observations, as the tracker builds them; in a
// corridor the tracks lie along a 6 m wall line and the observations 0.5 m from it.
Matrix DistanceMatrix(
  std::mt19937 & rng, std::size_t tracks, std::size_t observations, bool corridor)
{
  std::uniform_real_distribution<double> coordinate(-5.0, 5.0);
  std::uniform_real_distribution<double> along_wall(0.0, 6.0);
  const auto point = [&](double wall_y) {
      return corridor ? std::make_pair(along_wall(rng), wall_y) :
             std::make_pair(coordinate(rng), coordinate(rng));
    };
  std::vector<std::pair<double, double>> track_xy(tracks);
  std::vector<std::pair<double, double>> obs_xy(observations);
  for (auto & p : track_xy) {p = point(0.0);}
  for (auto & p : obs_xy) {p = point(0.5);}
  Matrix cost(tracks, std::vector<double>(observations));
  for (std::size_t r = 0; r < tracks; ++r) {
    for (std::size_t c = 0; c < observations; ++c) {
      cost[r][c] = std::hypot(track_xy[r].first - obs_xy[c].first,
          track_xy[r].second - obs_xy[c].second);
    }
  }
  return cost;
}

TEST(HungarianAlgorithmEdgeCases, EachCase)
{
  struct Case
  {
    const char * name;
    Matrix cost;
    double total;
    std::optional<std::vector<int32_t>> assignment;  ///< unset: several optima
  };
  const std::vector<Case> cases = {
    {"1 x 1 of zero", {{0.0}}, 0.0, std::vector<int32_t>{0}},
    {"1 x 1 of any size", {{1e9}}, 1e9, std::vector<int32_t>{0}},
    {"more columns than rows assigns every row", {{4.0, 1.0, 3.0}, {2.0, 0.0, 5.0}}, 3.0,
      std::vector<int32_t>{1, 0}},
    {"equal costs take the lower column", {{2.0, 2.0}}, 2.0, std::vector<int32_t>{0}},
    {"equal minima take the lower column", {{7.0, 1.0, 1.0, 1.0}}, 1.0, std::vector<int32_t>{1}},
    {"rows without columns", Matrix(3, std::vector<double>{}), 0.0,
      std::vector<int32_t>{-1, -1, -1}},
    {"no rows", Matrix{}, 0.0, std::vector<int32_t>{}},
    // Both optima (rows 2 and 1, or rows 0 and 2) cost 1.5 and use row 2.
    {"more rows than columns leaves one unassigned", {{1.0, 9.0}, {9.0, 1.0}, {0.5, 0.5}}, 1.5,
      std::nullopt},
  };
  HungarianAlgorithm solver;
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> assignment{5, 5};
    EXPECT_DOUBLE_EQ(solver.Solve(c.cost, assignment), c.total);
    EXPECT_DOUBLE_EQ(CheckAssignment(c.cost, assignment), c.total);
    if (c.assignment) {
      EXPECT_EQ(assignment, *c.assignment);
    } else {
      EXPECT_GE(assignment[2], 0);
    }
  }
}

TEST(HungarianAlgorithmEdgeCases, NegativeElementsAreReportedAndSolved)
{
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment;
  const Matrix cost = {{-1.0, 2.0}, {3.0, -4.0}, {0.0, 0.0}};
  testing::internal::CaptureStderr();
  const double total = solver.Solve(cost, assignment);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
    "All matrix elements have to be non-negative.\n"
    "All matrix elements have to be non-negative.\n");
  EXPECT_DOUBLE_EQ(total, -5.0);
  EXPECT_EQ(assignment, std::vector<int32_t>({0, 1, -1}));
}

TEST(HungarianAlgorithmInput, RejectsRaggedAndNonFiniteMatrices)
{
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment{1};
  EXPECT_THROW(solver.Solve({{1.0, 2.0}, {3.0}}, assignment), std::invalid_argument);
  EXPECT_TRUE(assignment.empty());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_THROW(solver.Solve({{1.0, nan}}, assignment), std::invalid_argument);
  EXPECT_THROW(solver.Solve({{inf, 1.0}, {1.0, 1.0}}, assignment), std::invalid_argument);
  // The solver stays usable after rejecting input.
  solver.Solve({{1.0, 0.0}, {0.0, 1.0}}, assignment);
  EXPECT_EQ(assignment, std::vector<int32_t>({1, 0}));
}

struct RandomCase
{
  std::size_t rows;
  std::size_t cols;
  bool integer_costs;
};

class HungarianAlgorithmRandom : public testing::TestWithParam<RandomCase> {};

TEST_P(HungarianAlgorithmRandom, MatchesBruteForceOptimum)
{
  const RandomCase param = GetParam();
  std::mt19937 rng(1234u + static_cast<unsigned>(param.rows * 10 + param.cols));
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment;
  for (int trial = 0; trial < 40; ++trial) {
    const Matrix cost = RandomMatrix(rng, param.rows, param.cols, param.integer_costs);
    const double total = solver.Solve(cost, assignment);
    const double best = BruteForceMinimum(cost);
    EXPECT_NEAR(total, best, 1e-9) << "trial " << trial;
    EXPECT_NEAR(CheckAssignment(cost, assignment), total, 1e-9);
  }
}

std::vector<RandomCase> AllSizesUpTo7()
{
  std::vector<RandomCase> cases;
  for (std::size_t rows = 1; rows <= 7; ++rows) {
    for (std::size_t cols = 1; cols <= 7; ++cols) {
      cases.push_back({rows, cols, false});
      cases.push_back({rows, cols, true});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(
  SizesUpTo7, HungarianAlgorithmRandom, testing::ValuesIn(AllSizesUpTo7()),
  [](const testing::TestParamInfo<RandomCase> & case_info) {
    const RandomCase & c = case_info.param;
    return std::to_string(c.rows) + "x" + std::to_string(c.cols) +
    (c.integer_costs ? "_ties" : "_real");
  });

TEST(HungarianAlgorithmGuard, FiresWithLoweredLimitAndSolverRecovers)
{
  HungarianOptions options;
  options.max_iterations = 1;
  options.scale_limit_with_size = false;
  HungarianAlgorithm solver(options);
  std::vector<int32_t> assignment;
  // Both rows want column 0: an augmenting pass is needed, so the done check runs twice.
  const Matrix contested = {{1.0, 2.0}, {1.0, 3.0}};
  try {
    solver.Solve(contested, assignment);
    FAIL() << "expected the loop guard to fire";
  } catch (const HungarianLoopError & e) {
    EXPECT_STREQ(e.what(), "Endless loop in Hungarian algorithm");
  }
  EXPECT_GT(*std::max_element(solver.step_counters().begin(), solver.step_counters().end()), 1);
  // A problem solved by the initial stars alone stays within the limit.
  EXPECT_NO_THROW(solver.Solve({{0.0, 1.0}, {1.0, 0.0}}, assignment));
  EXPECT_EQ(assignment, std::vector<int32_t>({0, 1}));
}

TEST(HungarianAlgorithmGuard, StructuredMatrixNeedsMoreThan200SweepsAndIsSolved)
{
  // cost = i * j: every phase has to re-cover almost every row before it can augment.
  constexpr std::size_t kSize = 30;
  Matrix cost(kSize, std::vector<double>(kSize));
  for (std::size_t i = 0; i < kSize; ++i) {
    for (std::size_t j = 0; j < kSize; ++j) {
      cost[i][j] = static_cast<double>(i * j);
    }
  }
  HungarianOptions flat;
  flat.scale_limit_with_size = false;
  std::vector<int32_t> assignment;
  EXPECT_THROW(HungarianAlgorithm(flat).Solve(cost, assignment), HungarianLoopError);

  HungarianAlgorithm solver;
  // Rearrangement: pairing row i with column 29 - i gives sum i * (29 - i) = 4060.
  EXPECT_DOUBLE_EQ(solver.Solve(cost, assignment), 4060.0);
  EXPECT_DOUBLE_EQ(CheckAssignment(cost, assignment), 4060.0);
  const int32_t busiest =
    *std::max_element(solver.step_counters().begin(), solver.step_counters().end());
  EXPECT_GT(busiest, 200);
  EXPECT_LE(busiest, solver.StepLimit(kSize, kSize));
}

TEST(HungarianAlgorithmGuard, RandomBusyScenesStayWithinTheWorstCaseBound)
{
  std::mt19937 rng(99u);
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment;
  const std::vector<std::pair<std::size_t, std::size_t>> sizes = {
    {60, 30}, {30, 60}, {45, 45}, {60, 60}, {30, 30}};
  for (const auto & size : sizes) {
    for (int trial = 0; trial < 20; ++trial) {
      const Matrix cost = trial % 3 == 0 ? RandomMatrix(rng, size.first, size.second, true) :
        DistanceMatrix(rng, size.first, size.second, trial % 3 == 2);
      ASSERT_NO_THROW(solver.Solve(cost, assignment));
      CheckAssignment(cost, assignment);
      for (const int32_t entries : solver.step_counters()) {
        EXPECT_LE(entries, HungarianAlgorithm::WorstCaseStepEntries(size.first, size.second));
      }
    }
  }
}

}  // namespace
}  // namespace perception
}  // namespace orvix
