// Constant colour table for coloured point clouds and debug drawings.
#pragma once

#include <array>
#include <cstdint>

/// 20 colour rows of three 8-bit channel values: red, green, blue for point clouds; the image's
/// own channel order on debug images. Pick a row with ColorPaletteRow.
extern const std::array<std::array<int, 3>, 20> color_palette_20;

/// @brief Row for a semantic type value or list index: value mod 20 (a negative value wraps into
/// the table as well, so any integer gives a valid row).
const std::array<int, 3> & ColorPaletteRow(int64_t value);
