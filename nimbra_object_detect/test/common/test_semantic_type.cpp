// Name/value conversion of semantic::SemanticType through the enum descriptor, and the colour
// row of any value.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/color_palette.hpp"
#include "common/semantic_type.hpp"

namespace
{

struct NamedType
{
  const char * name;
  int32_t value;
};

// The vocabulary every other part of the node relies on: names and wire values are fixed.
const std::vector<NamedType> kVocabulary = {
  {"INVALID", 0}, {"NO_TYPE", 1}, {"COMMON_STATIC", 2}, {"COMMON_DYNAMIC", 3},
  {"FLOOR", 100}, {"BASE", 101}, {"BLOOD", 102}, {"COFFEE", 103}, {"MILK", 104},
  {"CARPET", 105}, {"ESCALATOR_ENTRANCE", 106}, {"THREAD", 107}, {"FLOOR_LAMP", 108},
  {"DOOR_STOPPER", 109}, {"OBSTACLE", 200}, {"CHAIR", 201}, {"WAITING_BENCH", 202},
  {"WHEELCHAIR", 203}, {"HOSPITAL_BED", 204}, {"PERSON", 300}, {"PAPER", 400}, {"MASK", 401},
  {"BOTTLE", 402}, {"PAPER_CUP", 403}, {"PLASTIC_BAG", 404}, {"CARTON_BOX", 405},
  {"COTTON_BALL", 406}, {"MEDICATION_BOARD", 407}, {"SWAB", 408}, {"DRINKING_CUP", 409},
  {"NARROW_PASSAGE", 500},
};

TEST(SemanticVocabulary, EveryNameAndValueRoundTripsAndOthersAreRefused)
{
  EXPECT_EQ(
    semantic::SemanticType_descriptor()->value_count(), static_cast<int>(kVocabulary.size()));
  for (const auto & entry : kVocabulary) {
    semantic::SemanticType value = semantic::INVALID;
    ASSERT_TRUE(semantic::ParseSemanticType(entry.name, value)) << entry.name;
    EXPECT_EQ(value, entry.value) << entry.name;
    EXPECT_EQ(semantic::SemanticTypeName(entry.value), entry.name);
    // Letter case does not matter: every other letter lowered.
    std::string mixed = entry.name;
    for (std::size_t i = 0; i < mixed.size(); i += 2) {
      mixed[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mixed[i])));
    }
    value = semantic::INVALID;
    EXPECT_TRUE(semantic::ParseSemanticType(mixed, value)) << mixed;
    EXPECT_EQ(value, entry.value) << mixed;
  }
  // Values outside the vocabulary have empty names.
  for (const int32_t value : {-1, 4, 99, 110, 205, 301, 410, 501, 600,
      std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()})
  {
    EXPECT_EQ(semantic::SemanticTypeName(value), "") << value;
  }
  // Unknown names fail and leave the output untouched.
  for (const std::string & name : {std::string(), std::string("persons"), std::string(" person"),
      std::string("person "), std::string("escalator entrance"), std::string("300"),
      std::string("\xff\xfe"), std::string("PERSON\n"), std::string("PER\0SON", 7)})
  {
    semantic::SemanticType value = semantic::CHAIR;
    EXPECT_FALSE(semantic::ParseSemanticType(name, value)) << name;
    EXPECT_EQ(value, semantic::CHAIR) << name;
  }
}

// Any integer, negative and extreme ones included, picks a row inside the colour table.
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
