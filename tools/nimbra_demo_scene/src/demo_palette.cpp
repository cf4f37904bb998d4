#include "nimbra_demo_scene/demo_palette.hpp"

#include <algorithm>
#include <stdexcept>

namespace nimbra_demo_scene
{

const std::vector<PaletteEntry> & demoPalette()
{
  // Rows written by CMake from config/demo_palette.csv: {"name", "class or -", r, g, b},
  struct Row
  {
    const char * name;
    const char * semantic_class;
    int r, g, b;
  };
  static const Row kRows[] = {
#include "demo_palette_rows.inc"
  };
  static const std::vector<PaletteEntry> palette = [] {
      std::vector<PaletteEntry> entries;
      for (const Row & row : kRows) {
        const std::string cls = row.semantic_class;
        entries.push_back(
          PaletteEntry{row.name, cls == "-" ? std::string() : cls,
            Rgb{static_cast<uint8_t>(row.r), static_cast<uint8_t>(row.g),
              static_cast<uint8_t>(row.b)}});
      }
      return entries;
    }();
  return palette;
}

const PaletteEntry & paletteEntry(const std::string & name)
{
  for (const PaletteEntry & entry : demoPalette()) {
    if (entry.name == name) {
      return entry;
    }
  }
  throw std::out_of_range("demo palette: no colour named '" + name + "'");
}

std::vector<std::string> demoModelClasses()
{
  std::vector<std::string> classes;
  for (const PaletteEntry & entry : demoPalette()) {
    if (!entry.semantic_class.empty() &&
      std::find(classes.begin(), classes.end(), entry.semantic_class) == classes.end())
    {
      classes.push_back(entry.semantic_class);
    }
  }
  return classes;
}

}  // namespace nimbra_demo_scene
