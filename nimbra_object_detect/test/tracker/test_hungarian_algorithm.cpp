#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tracker/hungarian_algorithm.hpp"

namespace orvix::perception
{
namespace
{

using Matrix = std::vector<std::vector<double>>;

// Smallest total over every way of pairing min(rows, cols) rows with distinct columns.
double BruteForceMinimum(const Matrix & cost)
{
  const std::size_t rows = cost.size();
  const std::size_t cols = rows == 0 ? 0 : cost[0].size();
  const bool by_rows = rows <= cols;
  std::vector<std::size_t> order(by_rows ? cols : rows);
  std::iota(order.begin(), order.end(), 0);
  double best = std::numeric_limits<double>::infinity();
  do {
    double total = 0.0;
    for (std::size_t i = 0; i < std::min(rows, cols); ++i) {
      total += by_rows ? cost[i][order[i]] : cost[order[i]][i];
    }
    best = std::min(best, total);
  } while (std::next_permutation(order.begin(), order.end()));
  return best;
}

// Summed cost of `assignment`, which must give min(rows, cols) rows distinct columns and the
// others -1.
double AssignedCost(const Matrix & cost, const std::vector<int32_t> & assignment)
{
  EXPECT_EQ(assignment.size(), cost.size());
  std::set<int32_t> used;
  double total = 0.0;
  for (std::size_t row = 0; row < assignment.size(); ++row) {
    if (assignment[row] != -1) {
      EXPECT_TRUE(used.insert(assignment[row]).second) << "column " << assignment[row] << " twice";
      total += cost[row].at(static_cast<std::size_t>(assignment[row]));
    }
  }
  EXPECT_EQ(used.size(), std::min(cost.size(), cost.empty() ? 0 : cost[0].size()));
  return total;
}

// Uniform costs in [0, 10), or integers 0..4 with many ties.
Matrix RandomMatrix(std::mt19937 & rng, std::size_t rows, std::size_t cols, bool ties)
{
  std::uniform_real_distribution<double> real(0.0, 10.0);
  std::uniform_int_distribution<int> small_int(0, 4);
  Matrix cost(rows, std::vector<double>(cols));
  for (auto & row : cost) {
    for (auto & value : row) {
      value = ties ? small_int(rng) : real(rng);
    }
  }
  return cost;
}

// Planar distances between tracks and observations as the tracker builds them: scattered over a
// 10 m square, or in a corridor with the tracks on a 6 m wall line and the observations 0.5 m off.
Matrix DistanceMatrix(
  std::mt19937 & rng, std::size_t tracks, std::size_t observations, bool corridor)
{
  std::uniform_real_distribution<double> coordinate(0.0, corridor ? 6.0 : 10.0);
  std::vector<double> x(tracks + observations);
  std::vector<double> y(tracks + observations);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = coordinate(rng);
    y[i] = !corridor ? coordinate(rng) : i < tracks ? 0.0 : 0.5;
  }
  Matrix cost(tracks, std::vector<double>(observations));
  for (std::size_t r = 0; r < tracks; ++r) {
    for (std::size_t c = 0; c < observations; ++c) {
      cost[r][c] = std::hypot(x[r] - x[tracks + c], y[r] - y[tracks + c]);
    }
  }
  return cost;
}

// Rules the brute-force comparison below cannot see: which of several optima, empty dimensions,
// what is written for negative elements, refused input (after which the solver stays usable).
TEST(HungarianAlgorithmEdgeCases, EachCase)
{
  struct Case
  {
    const char * name;
    Matrix cost;
    double total;
    std::vector<int32_t> assignment;
    std::string err;  ///< what the solver writes to stderr
    bool refused = false;  ///< std::invalid_argument, no assignment
  };
  const std::string negative = "All matrix elements have to be non-negative.\n";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
    {"ragged rows are refused", {{1.0, 2.0}, {3.0}}, 0.0, {}, "", true},
    {"NaN is refused", {{1.0, nan}}, 0.0, {}, "", true},
    {"infinity is refused", {{inf, 1.0}, {1.0, 1.0}}, 0.0, {}, "", true},
    {"equal minima take the lower column", {{7.0, 1.0, 1.0, 1.0}}, 1.0, {1}, ""},
    {"rows without columns", Matrix(3, std::vector<double>{}), 0.0, {-1, -1, -1}, ""},
    {"no rows", Matrix{}, 0.0, {}, ""},
    {"negative elements are reported once each and solved", {{-1.0, 2.0}, {3.0, -4.0}, {0.0, 0.0}},
      -5.0, {0, 1, -1}, negative + negative},
  };
  HungarianAlgorithm solver;
  for (const Case & c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int32_t> assignment{5, 5};
    testing::internal::CaptureStderr();
    if (c.refused) {
      EXPECT_THROW(solver.Solve(c.cost, assignment), std::invalid_argument);
    } else {
      EXPECT_DOUBLE_EQ(solver.Solve(c.cost, assignment), c.total);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(assignment, c.assignment);
  }
}

// One solver for all problems: every size up to 7 x 7 against the brute-force optimum (real
// costs and costs with many ties alternating), then busy scenes within the worst-case step bound
// (from 14 x 14 on, the default guard's limit is that bound: a step beyond it throws).
TEST(HungarianAlgorithmRandom, MatchesBruteForceOptimumAndStaysWithinTheStepBound)
{
  std::mt19937 rng(1234u);
  HungarianAlgorithm solver;
  std::vector<int32_t> assignment;
  for (std::size_t rows = 1; rows <= 7; ++rows) {
    for (std::size_t cols = 1; cols <= 7; ++cols) {
      for (int trial = 0; trial < 80; ++trial) {
        const Matrix cost = RandomMatrix(rng, rows, cols, trial % 2 == 1);
        const double total = solver.Solve(cost, assignment);
        ASSERT_NEAR(total, BruteForceMinimum(cost), 1e-9)
          << rows << " x " << cols << " trial " << trial;
        ASSERT_NEAR(AssignedCost(cost, assignment), total, 1e-9);
      }
    }
  }
  for (const auto & [rows, cols] : std::vector<std::pair<std::size_t, std::size_t>>{
      {60, 30}, {30, 60}, {45, 45}, {60, 60}, {30, 30}})
  {
    for (int trial = 0; trial < 20; ++trial) {
      const Matrix cost = trial % 3 == 0 ? RandomMatrix(rng, rows, cols, true) :
        DistanceMatrix(rng, rows, cols, trial % 3 == 2);
      ASSERT_NO_THROW(solver.Solve(cost, assignment));
      AssignedCost(cost, assignment);
    }
  }
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
  std::vector<int32_t> assignment;
  EXPECT_THROW(HungarianAlgorithm(HungarianOptions{200, false}).Solve(cost, assignment),
    HungarianLoopError);

  HungarianAlgorithm solver;
  // Rearrangement: pairing row i with column 29 - i gives sum i * (29 - i) = 4060.
  EXPECT_DOUBLE_EQ(solver.Solve(cost, assignment), 4060.0);
  EXPECT_DOUBLE_EQ(AssignedCost(cost, assignment), 4060.0);
}

}  // namespace
}  // namespace orvix::perception
