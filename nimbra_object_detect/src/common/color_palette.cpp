#include "common/color_palette.hpp"

const std::array<std::array<int, 3>, 20> color_palette_20 = {{
  {255, 56, 56},
  {255, 157, 151},
  {255, 112, 31},
  {255, 178, 29},
  {207, 210, 49},
  {72, 249, 10},
  {146, 204, 23},
  {61, 219, 134},
  {26, 147, 52},
  {0, 212, 187},
  {44, 153, 168},
  {0, 194, 255},
  {52, 69, 147},
  {100, 115, 255},
  {0, 24, 236},
  {132, 56, 255},
  {82, 0, 133},
  {203, 56, 255},
  {255, 149, 200},
  {255, 55, 199},
}};

const std::array<int, 3> & ColorPaletteRow(int64_t value)
{
  constexpr int64_t kRows = static_cast<int64_t>(color_palette_20.size());
  const int64_t row = ((value % kRows) + kRows) % kRows;
  return color_palette_20[static_cast<std::size_t>(row)];
}
