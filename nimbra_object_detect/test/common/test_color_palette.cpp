// The value-to-row rule of the colour table: any integer, negative and extreme ones included,
// picks a row inside the table.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "common/color_palette.hpp"
#include "common/semantic_type.hpp"

namespace
{

TEST(ColorPalette, RowIsTheValueModTwentyForAnyInteger)
{
  struct Row
  {
    int64_t value;
    std::size_t row;
  };
  // 9223372036854775807 = 20 * 461168601842738790 + 7;
  // -9223372036854775808 = 20 * -461168601842738791 + 12.
  for (const Row & r : {Row{semantic::PERSON, 0}, Row{semantic::DRINKING_CUP, 9}, Row{21, 1},
      Row{-1, 19}, Row{-20, 0}, Row{std::numeric_limits<int64_t>::max(), 7},
      Row{std::numeric_limits<int64_t>::min(), 12}})
  {
    EXPECT_EQ(&ColorPaletteRow(r.value), &color_palette_20[r.row]) << r.value;
  }
}

}  // namespace
