// Colour table rows and the value-mod-20 row rule.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <set>

#include "common/color_palette.hpp"
#include "common/semantic_type.hpp"

namespace
{

using Row = std::array<int, 3>;

TEST(ColorPalette, TwentyDistinctEightBitRows)
{
  ASSERT_EQ(color_palette_20.size(), 20U);
  std::set<Row> distinct(color_palette_20.begin(), color_palette_20.end());
  EXPECT_EQ(distinct.size(), 20U);
  for (const Row & row : color_palette_20) {
    for (const int channel : row) {
      EXPECT_GE(channel, 0);
      EXPECT_LE(channel, 255);
    }
  }
  EXPECT_EQ(color_palette_20[0], (Row{255, 56, 56}));
  EXPECT_EQ(color_palette_20[10], (Row{44, 153, 168}));
  EXPECT_EQ(color_palette_20[19], (Row{255, 55, 199}));
}

TEST(ColorPalette, RowIsValueModTwenty)
{
  EXPECT_EQ(ColorPaletteRow(semantic::PERSON), color_palette_20[0]);
  EXPECT_EQ(ColorPaletteRow(semantic::CHAIR), color_palette_20[1]);
  EXPECT_EQ(ColorPaletteRow(semantic::COFFEE), (Row{255, 178, 29}));
  EXPECT_EQ(ColorPaletteRow(semantic::NARROW_PASSAGE), color_palette_20[0]);
  EXPECT_EQ(ColorPaletteRow(semantic::DRINKING_CUP), color_palette_20[9]);
  for (int64_t index = 0; index < 45; ++index) {
    EXPECT_EQ(&ColorPaletteRow(index), &color_palette_20[static_cast<std::size_t>(index % 20)]);
  }
}

TEST(ColorPalette, AnyIntegerGivesARowInsideTheTable)
{
  EXPECT_EQ(&ColorPaletteRow(-1), &color_palette_20[19]);
  EXPECT_EQ(&ColorPaletteRow(-20), &color_palette_20[0]);
  // 9223372036854775807 = 20 * 461168601842738790 + 7
  EXPECT_EQ(&ColorPaletteRow(std::numeric_limits<int64_t>::max()), &color_palette_20[7]);
  // -9223372036854775808 = 20 * -461168601842738791 + 12
  EXPECT_EQ(&ColorPaletteRow(std::numeric_limits<int64_t>::min()), &color_palette_20[12]);
}

}  // namespace
