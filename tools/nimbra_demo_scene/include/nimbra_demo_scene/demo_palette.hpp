// Colours of the demo world and the classes the demo model reports for them, from
// config/demo_palette.csv (built into the library; the model generator reads the same file).
#pragma once

#include <string>
#include <vector>

#include "nimbra_demo_scene/scene.hpp"

namespace nimbra_demo_scene
{

/// One row of the palette.
struct PaletteEntry
{
  std::string name;            ///< surface or object, e.g. "chair", "litter_3"
  std::string semantic_class;  ///< class the demo model reports; empty: none (never detected)
  Rgb colour;                  ///< flat colour
};

/// All rows, in the order of the CSV file.
const std::vector<PaletteEntry> & demoPalette();

/// The row named `name`.
/// @throws std::out_of_range when there is none
const PaletteEntry & paletteEntry(const std::string & name);

/// Output classes of the demo model, by class id: the distinct classes in order of first
/// appearance in the palette (the order of the model description's class_mapping).
std::vector<std::string> demoModelClasses();

}  // namespace nimbra_demo_scene
