#include "tracker/hungarian_algorithm.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>

namespace orvix
{
namespace perception
{

namespace
{
constexpr double kZeroTolerance = std::numeric_limits<double>::epsilon();
constexpr double kNoMinimum = std::numeric_limits<double>::max();
}  // namespace

HungarianAlgorithm::HungarianAlgorithm()
: HungarianAlgorithm(HungarianOptions{})
{
}

HungarianAlgorithm::HungarianAlgorithm(const HungarianOptions & options)
: step_counters_(kStepCount, 0),
  max_iterations_(options.max_iterations),
  scale_limit_with_size_(options.scale_limit_with_size)
{
}

int64_t HungarianAlgorithm::WorstCaseStepEntries(std::size_t rows, std::size_t cols)
{
  // Each phase adds one star and needs at most one prime sweep per row it covers, so no step
  // is entered more than (min + 1)^2 times.
  const int64_t min_dim = static_cast<int64_t>(std::min(rows, cols));
  return (min_dim + 1) * (min_dim + 1);
}

int32_t HungarianAlgorithm::StepLimit(std::size_t rows, std::size_t cols) const
{
  if (!scale_limit_with_size_) {
    return max_iterations_;
  }
  const int64_t limit = std::max<int64_t>(max_iterations_, WorstCaseStepEntries(rows, cols));
  return static_cast<int32_t>(std::min<int64_t>(limit, std::numeric_limits<int32_t>::max()));
}

double HungarianAlgorithm::Solve(
  const std::vector<std::vector<double>> & cost, std::vector<int32_t> & assignment)
{
  std::fill(step_counters_.begin(), step_counters_.end(), 0);
  assignment.clear();
  Prepare(cost);
  assignment.assign(rows_, -1);
  if (rows_ == 0 || cols_ == 0) {
    return 0.0;
  }

  ReduceAndStar();
  Step step = Step::kCheckDone;
  while (step != Step::kDone) {
    EnterStep(step);
    switch (step) {
      case Step::kCoverStarredColumns: step = CoverStarredColumns(); break;
      case Step::kCheckDone: step = CheckDone(); break;
      case Step::kPrimeZeros: step = PrimeZeros(); break;
      case Step::kAugmentPath: step = AugmentPath(); break;
      case Step::kAdjustMatrix: step = AdjustMatrix(); break;
      case Step::kDone: break;
    }
  }

  double total = 0.0;
  for (std::size_t row = 0; row < rows_; ++row) {
    const long col = FindStarInRow(row);
    if (col >= 0) {
      assignment[row] = static_cast<int32_t>(col);
      total += cost[row][static_cast<std::size_t>(col)];
    }
  }
  return total;
}

void HungarianAlgorithm::Prepare(const std::vector<std::vector<double>> & cost)
{
  rows_ = cost.size();
  cols_ = rows_ == 0 ? 0 : cost.front().size();
  for (std::size_t row = 0; row < rows_; ++row) {
    if (cost[row].size() != cols_) {
      rows_ = cols_ = 0;
      throw std::invalid_argument(
              "cost matrix row " + std::to_string(row) + " has " +
              std::to_string(cost[row].size()) + " columns, expected " +
              std::to_string(cost.front().size()));
    }
  }
  min_dim_ = std::min(rows_, cols_);
  step_limit_ = StepLimit(rows_, cols_);

  const std::size_t size = rows_ * cols_;
  work_.resize(size);
  starred_.assign(size, 0);
  primed_.assign(size, 0);
  covered_rows_.assign(rows_, 0);
  covered_cols_.assign(cols_, 0);

  for (std::size_t row = 0; row < rows_; ++row) {
    for (std::size_t col = 0; col < cols_; ++col) {
      const double value = cost[row][col];
      if (!std::isfinite(value)) {
        rows_ = cols_ = 0;
        throw std::invalid_argument(
                "cost matrix element (" + std::to_string(row) + ", " + std::to_string(col) +
                ") is not finite");
      }
      if (value < 0.0) {
        std::cerr << "All matrix elements have to be non-negative." << std::endl;
      }
      At(row, col) = value;
    }
  }
}

void HungarianAlgorithm::ReduceAndStar()
{
  if (rows_ <= cols_) {
    for (std::size_t row = 0; row < rows_; ++row) {
      double smallest = kNoMinimum;
      for (std::size_t col = 0; col < cols_; ++col) {
        smallest = std::min(smallest, At(row, col));
      }
      for (std::size_t col = 0; col < cols_; ++col) {
        At(row, col) -= smallest;
      }
    }
    for (std::size_t row = 0; row < rows_; ++row) {
      for (std::size_t col = 0; col < cols_; ++col) {
        if (IsZero(row, col) && !covered_cols_[col]) {
          starred_[row + rows_ * col] = 1;
          covered_cols_[col] = 1;
          break;
        }
      }
    }
    return;
  }

  for (std::size_t col = 0; col < cols_; ++col) {
    double smallest = kNoMinimum;
    for (std::size_t row = 0; row < rows_; ++row) {
      smallest = std::min(smallest, At(row, col));
    }
    for (std::size_t row = 0; row < rows_; ++row) {
      At(row, col) -= smallest;
    }
  }
  std::vector<char> row_has_star(rows_, 0);
  for (std::size_t col = 0; col < cols_; ++col) {
    for (std::size_t row = 0; row < rows_; ++row) {
      if (IsZero(row, col) && !row_has_star[row]) {
        starred_[row + rows_ * col] = 1;
        row_has_star[row] = 1;
        break;
      }
    }
  }
  for (std::size_t col = 0; col < cols_; ++col) {
    covered_cols_[col] = FindStarInColumn(col) >= 0 ? 1 : 0;
  }
}

void HungarianAlgorithm::EnterStep(Step step)
{
  int32_t & counter = step_counters_[static_cast<std::size_t>(step)];
  ++counter;
  if (counter > step_limit_) {
    throw HungarianLoopError(kLoopErrorText);
  }
}

HungarianAlgorithm::Step HungarianAlgorithm::CoverStarredColumns()
{
  for (std::size_t col = 0; col < cols_; ++col) {
    covered_cols_[col] = FindStarInColumn(col) >= 0 ? 1 : 0;
  }
  return Step::kCheckDone;
}

HungarianAlgorithm::Step HungarianAlgorithm::CheckDone() const
{
  const auto covered = static_cast<std::size_t>(
    std::count(covered_cols_.begin(), covered_cols_.end(), 1));
  return covered == min_dim_ ? Step::kDone : Step::kPrimeZeros;
}

HungarianAlgorithm::Step HungarianAlgorithm::PrimeZeros()
{
  // Values do not change in this step and covered rows only grow, so a scanned column holds no
  // uncovered zero later unless it was uncovered meanwhile: the scan resumes at that column.
  std::size_t col = 0;
  while (col < cols_) {
    if (covered_cols_[col]) {
      ++col;
      continue;
    }
    bool primed_one = false;
    for (std::size_t row = 0; row < rows_; ++row) {
      if (covered_rows_[row] || !IsZero(row, col)) {
        continue;
      }
      primed_[row + rows_ * col] = 1;
      const long star_col = FindStarInRow(row);
      if (star_col < 0) {
        prime_row_ = row;
        prime_col_ = col;
        return Step::kAugmentPath;
      }
      covered_rows_[row] = 1;
      covered_cols_[static_cast<std::size_t>(star_col)] = 0;
      col = std::min(col, static_cast<std::size_t>(star_col));
      primed_one = true;
      break;
    }
    if (!primed_one) {
      ++col;
    }
  }
  return Step::kAdjustMatrix;
}

HungarianAlgorithm::Step HungarianAlgorithm::AugmentPath()
{
  // Alternate from the uncovered prime: star in its column, prime in that star's row, ...
  std::size_t row = prime_row_;
  std::size_t col = prime_col_;
  std::vector<std::size_t> path_rows{row};
  std::vector<std::size_t> path_cols{col};
  for (;;) {
    const long star_row = FindStarInColumn(col);
    if (star_row < 0) {
      break;
    }
    row = static_cast<std::size_t>(star_row);
    path_rows.push_back(row);
    path_cols.push_back(col);
    const long prime_col = FindPrimeInRow(row);
    if (prime_col < 0) {
      // A starred zero on the path always lies in a covered row, which holds a prime.
      throw std::logic_error("Hungarian augmenting path lost its prime");
    }
    col = static_cast<std::size_t>(prime_col);
    path_rows.push_back(row);
    path_cols.push_back(col);
  }
  // Even path positions are primes (become stars), odd ones are stars (lose them).
  for (std::size_t i = 0; i < path_rows.size(); ++i) {
    starred_[path_rows[i] + rows_ * path_cols[i]] = (i % 2 == 0) ? 1 : 0;
  }
  std::fill(primed_.begin(), primed_.end(), 0);
  std::fill(covered_rows_.begin(), covered_rows_.end(), 0);
  return Step::kCoverStarredColumns;
}

HungarianAlgorithm::Step HungarianAlgorithm::AdjustMatrix()
{
  double smallest = kNoMinimum;
  for (std::size_t col = 0; col < cols_; ++col) {
    if (covered_cols_[col]) {
      continue;
    }
    for (std::size_t row = 0; row < rows_; ++row) {
      if (!covered_rows_[row]) {
        smallest = std::min(smallest, At(row, col));
      }
    }
  }
  for (std::size_t row = 0; row < rows_; ++row) {
    if (covered_rows_[row]) {
      for (std::size_t col = 0; col < cols_; ++col) {
        At(row, col) += smallest;
      }
    }
  }
  for (std::size_t col = 0; col < cols_; ++col) {
    if (!covered_cols_[col]) {
      for (std::size_t row = 0; row < rows_; ++row) {
        At(row, col) -= smallest;
      }
    }
  }
  return Step::kPrimeZeros;
}

bool HungarianAlgorithm::IsZero(std::size_t row, std::size_t col) const
{
  return std::fabs(At(row, col)) < kZeroTolerance;
}

long HungarianAlgorithm::FindStarInRow(std::size_t row) const
{
  for (std::size_t col = 0; col < cols_; ++col) {
    if (starred_[row + rows_ * col]) {
      return static_cast<long>(col);
    }
  }
  return -1;
}

long HungarianAlgorithm::FindStarInColumn(std::size_t col) const
{
  for (std::size_t row = 0; row < rows_; ++row) {
    if (starred_[row + rows_ * col]) {
      return static_cast<long>(row);
    }
  }
  return -1;
}

long HungarianAlgorithm::FindPrimeInRow(std::size_t row) const
{
  for (std::size_t col = 0; col < cols_; ++col) {
    if (primed_[row + rows_ * col]) {
      return static_cast<long>(col);
    }
  }
  return -1;
}

}  // namespace perception
}  // namespace orvix
