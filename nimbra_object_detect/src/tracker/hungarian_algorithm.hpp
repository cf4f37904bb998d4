// Minimum-cost rectangular assignment (Munkres method) used by the trash tracker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orvix
{
namespace perception
{

/// Raised when a solve enters one of its steps more often than the loop guard allows.
class HungarianLoopError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Loop-guard settings of a `HungarianAlgorithm`.
struct HungarianOptions
{
  int32_t max_iterations = 200;       ///< entries allowed per step and solve (the floor when scaling)
  bool scale_limit_with_size = true;  ///< raise the limit to the worst case of the matrix size
};

/// Classical Munkres solver with starred and primed zeros on a column-major working array.
class HungarianAlgorithm
{
public:
  /// Number of counted steps: cover starred columns, check done, prime zeros, augment, adjust.
  static constexpr std::size_t kStepCount = 5;
  static constexpr int32_t kDefaultMaxIterations = 200;
  static constexpr const char * kLoopErrorText = "Endless loop in Hungarian algorithm";

  HungarianAlgorithm();
  explicit HungarianAlgorithm(const HungarianOptions & options);

  /**
   * @brief Pairs rows with columns at minimum total cost; each row and column is used at most once.
   * @param cost rows x columns, every row of the same length, finite values.
   * @param assignment resized to the row count; the column of each row, or -1 for none.
   * @return total cost of the assigned pairs (from the unmodified input).
   * @throws std::invalid_argument on ragged rows or non-finite values (assignment left empty).
   * @throws HungarianLoopError when a step is entered more often than StepLimit() allows.
   */
  double Solve(const std::vector<std::vector<double>> & cost, std::vector<int32_t> & assignment);

  /// Entries per step of the last solve, in step order.
  const std::vector<int32_t> & step_counters() const {return step_counters_;}

  /// Entries allowed per step for a rows x columns matrix.
  int32_t StepLimit(std::size_t rows, std::size_t cols) const;

  /// Most entries any step can need for a rows x columns matrix: (min(rows, cols) + 1)^2.
  static int64_t WorstCaseStepEntries(std::size_t rows, std::size_t cols);

private:
  enum class Step
  {
    kCoverStarredColumns = 0,
    kCheckDone = 1,
    kPrimeZeros = 2,
    kAugmentPath = 3,
    kAdjustMatrix = 4,
    kDone = 5,
  };

  void Prepare(const std::vector<std::vector<double>> & cost);
  void ReduceAndStar();
  void EnterStep(Step step);
  Step CoverStarredColumns();
  Step CheckDone() const;
  Step PrimeZeros();
  Step AugmentPath();
  Step AdjustMatrix();

  bool IsZero(std::size_t row, std::size_t col) const;
  double & At(std::size_t row, std::size_t col) {return work_[row + rows_ * col];}
  double At(std::size_t row, std::size_t col) const {return work_[row + rows_ * col];}
  long FindStarInRow(std::size_t row) const;
  long FindStarInColumn(std::size_t col) const;
  long FindPrimeInRow(std::size_t row) const;

  std::vector<int32_t> step_counters_;  ///< entries per step in the current solve
  int32_t max_iterations_;              ///< entries allowed per step (floor when scaling)
  bool scale_limit_with_size_;          ///< whether the limit grows with the matrix size

  // Working state of one solve; kept between solves to reuse the allocations.
  std::size_t rows_ = 0;                ///< row count of the current matrix
  std::size_t cols_ = 0;                ///< column count of the current matrix
  std::size_t min_dim_ = 0;             ///< min(rows_, cols_): size of a complete assignment
  int32_t step_limit_ = 0;              ///< entries allowed per step in the current solve
  std::vector<double> work_;            ///< reduced costs, column-major
  std::vector<char> starred_;           ///< star flags, column-major
  std::vector<char> primed_;            ///< prime flags, column-major
  std::vector<char> covered_rows_;      ///< row cover flags
  std::vector<char> covered_cols_;      ///< column cover flags
  std::size_t prime_row_ = 0;           ///< row of the prime that starts the augmenting path
  std::size_t prime_col_ = 0;           ///< column of the prime that starts the augmenting path
};

}  // namespace perception
}  // namespace orvix
