// semantic::AiConfig construction: class table, thresholds, heights and the collected error text;
// loading the model description and height files, and the sample files shipped in config/.
#include <ament_index_cpp/get_package_prefix.hpp>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/semantic_type.hpp"
#include "log_capture.hpp"
#include "package_prefix.hpp"

namespace
{

using semantic::AiConfig;
using semantic::SemanticType;
using Types = std::vector<SemanticType>;
using Thresholds = std::vector<double>;
using Heights = std::map<SemanticType, std::pair<double, double>>;

// ---------------------------------------------------------------------------------------------
// Whole documents: one row per case, checking the fields the row gives.

struct DocumentCase
{
  const char * name;
  std::string meta;
  std::string height;
  std::optional<std::string> error;
  std::optional<Types> class_types;
  std::optional<Thresholds> thresholds;
  std::optional<Heights> heights;
  std::vector<std::string> log = {};  ///< every line logged while building
};

/// A model description: class mapping, default threshold and per-class thresholds as written.
std::string Doc(
  const std::string & mapping, const std::string & fallback = "0.5",
  const std::string & thresholds = "{}")
{
  return "class_mapping: " + mapping + "\ndefault_confidence_threshold: " + fallback +
         "\nconfidence_threshold: " + thresholds + "\n";
}

const std::string kMeta = Doc("{0: person}");

TEST(AiConfigDocuments, EachCase)
{
  using namespace semantic;
  const double inf = std::numeric_limits<double>::infinity();
  const std::string mapping_error = "ParseFile Err: yaml node class_mapping is not a map.";
  const std::string missing_all =
    "ParseFile Err: Failed to parse class_mapping, invalid node; first invalid key: "
    "\"class_mapping\", Failed to parse default_confidence_threshold, invalid node; first "
    "invalid key: \"default_confidence_threshold\", Failed to parse "
    "default_confidence_threshold, invalid node; first invalid key: \"confidence_threshold\".";
  const std::vector<DocumentCase> cases = {
    {"well-formed file gives no error",
      Doc("{0: person, 1: chair, 2: coffee}", "0.4", "{1: 0.7}"), "{}",
      "", Types{PERSON, CHAIR, COFFEE}, Thresholds{0.4, 0.7, 0.4}, {}},
    {"gap in ids grows the table (names in any letter case)",
      Doc("{0: Person, 1: cHaIr, 3: WheelChair}"), "{}",
      "ParseFile Err: key 3 is larger than map size, means the keys are not a continuous sequence.",
      Types{PERSON, CHAIR, NO_TYPE, WHEELCHAIR}, Thresholds(4, 0.5), {}},
    // Block style so that the position in the message is easy to read.
    {"key that is not an integer ends the mapping",
      "class_mapping:\n  0: person\n  1: chair\n  two: base\n  3: carpet\n"
      "default_confidence_threshold: 0.5\nconfidence_threshold: {}\n", "{}",
      "ParseFile Err: Failed to parse class_mapping, yaml-cpp: error at line 4, column 3: "
      "bad conversion.", Types{PERSON, CHAIR, NO_TYPE, NO_TYPE}, Thresholds(4, 0.5), {}},
    {"key outside signed 32 bits ends the mapping",
      "class_mapping:\n  0: person\n  3000000000: chair\n"
      "default_confidence_threshold: 0.5\nconfidence_threshold: {}\n", "{}",
      "ParseFile Err: Failed to parse class_mapping, yaml-cpp: error at line 3, column 3: "
      "bad conversion.", Types{PERSON, NO_TYPE}, {}, {}},
    {"missing mapping is reported and thresholds still read",
      "default_confidence_threshold: 0.3\nconfidence_threshold: {0: 0.9}\n", "{}",
      "ParseFile Err: Failed to parse class_mapping, invalid node; first invalid key: "
      "\"class_mapping\", key 0 is larger than map size.", Types{}, Thresholds{}, {}},
    {"missing default threshold uses half",
      "class_mapping: {0: person, 1: chair}\nconfidence_threshold: {1: 0.8}\n", "{}",
      "ParseFile Err: Failed to parse default_confidence_threshold, invalid node; first invalid "
      "key: \"default_confidence_threshold\".", {}, Thresholds{0.5, 0.8}, {}},
    {"threshold that is not a number ends the thresholds",
      "class_mapping: {0: person, 1: chair, 2: base}\ndefault_confidence_threshold: 0.4\n"
      "confidence_threshold:\n  0: 0.6\n  1: high\n  2: 0.7\n", "{}",
      "ParseFile Err: Failed to parse default_confidence_threshold, yaml-cpp: error at line 5, "
      "column 6: bad conversion.", {}, Thresholds{0.6, 0.4, 0.4}, {}},
    {"missing per-class map is reported",
      "class_mapping: {0: person}\ndefault_confidence_threshold: 0.4\n", "{}",
      "ParseFile Err: Failed to parse default_confidence_threshold, invalid node; first invalid "
      "key: \"confidence_threshold\".", {}, Thresholds{0.4}, {}},
    {"repeated key then non-map thresholds keep the message order",
      Doc("{0: person, 1: chair, 2: base, 3: carpet, 3: mask}", "0.4", "0.9"), "{}",
      "ParseFile Err: key 3 repeat, ignore old value, yaml node confidence_threshold is not a map.",
      {}, {}, {}},
    // Problems of single class-mapping entries are collected in file order.
    {"010 is ten and 0x1 is one", Doc("{0: person, 010: chair, 0x1: base}"), "{}",
      "ParseFile Err: key 10 is larger than map size, means the keys are not a continuous "
      "sequence.", Types{PERSON, BASE, NO_TYPE, NO_TYPE, NO_TYPE, NO_TYPE, NO_TYPE, NO_TYPE,
        NO_TYPE, NO_TYPE, CHAIR}, Thresholds(11, 0.5), {}},
    {"repeated id written differently",
      Doc("{0: person, 1: chair, 2: base, 3: carpet, 03: mask}"), "{}",
      "ParseFile Err: key 3 repeat, ignore old value.",
      Types{PERSON, CHAIR, BASE, MASK, NO_TYPE}, Thresholds(5, 0.5), {}},
    // Each bad entry (unknown name, negative id, non-scalar) is skipped and the next one read.
    {"several entry problems", Doc("{0: unicorn, -1: person, 1: [x], 2: chair}"), "{}",
      "ParseFile Err: value unicorn cannot parse into SemanticType, key -1 is smaller than 0, "
      "ignore, Non-scalar key or value found in class_mapping.", Types{NO_TYPE, NO_TYPE, CHAIR,
        NO_TYPE}, Thresholds(4, 0.5), {}},
    {"class id above 65535", Doc("{0: person, 2000000000: chair}"), "{}",
      "ParseFile Err: key 2000000000 is larger than 65535, ignore.", Types{PERSON, NO_TYPE},
      Thresholds(2, 0.5), {}},
    // Per-class threshold entries: an id one past the table, a negative id and a non-scalar are
    // skipped, each with its message, and the entries after them are read.
    {"threshold entry problems", Doc("{0: person, 1: chair, 2: base}", "0.4",
      "{3: 0.9, -1: 0.8, 0: [0.9], 1: 0.6, 2: 0.1}"), "{}",
      "ParseFile Err: key 3 is larger than map size, key -1 is smaller than 0, ignore, "
      "Non-scalar key or value found in confidence_threshold.", {}, Thresholds{0.4, 0.6, 0.1}, {}},
    {"threshold sequence", Doc("{0: person, 1: chair, 2: base}", "0.4", "[0.9, 0.8]"), "{}",
      "ParseFile Err: yaml node confidence_threshold is not a map.", {}, Thresholds(3, 0.4), {}},
    {"height ranges per class, extra elements ignored", kMeta,
      "{person: [0.1, 1.9], Chair: [0, 1.2, 99], base: [-.inf, 0.05]}", "", {}, {},
      Heights{{BASE, {-inf, 0.05}}, {CHAIR, {0.0, 1.2}}, {PERSON, {0.1, 1.9}}}},
    {"short height list stops the reading", kMeta,
      "{chair: [0.1, 0.5], person: [1.0], base: [0.0, 0.2]}", "", {}, {},
      Heights{{CHAIR, {0.1, 0.5}}, {PERSON, {0.0, 0.0}}}},
    {"height that is not a number stops the reading", kMeta,
      "{chair: [0.1, 0.5], person: [low, 1.0], base: [0.0, 0.2]}", {}, {}, {},
      Heights{{CHAIR, {0.1, 0.5}}}},
    {"later height entry of the same type wins", kMeta, "{chair: [0, 1], CHAIR: [2, 3]}", {}, {},
      {}, Heights{{CHAIR, {2.0, 3.0}}}},
    {"height entries that are not name and list are skipped", kMeta,
      "{base: 5, [a]: [1, 2], carpet: {min: 0}, ~: [1, 2], mask: [0.0, 0.1]}", {}, {}, {},
      Heights{{MASK, {0.0, 0.1}}}},
    {"unknown height names are logged and skipped", kMeta,
      "{unicorn: [0, 1], paper: [0, 0.1], '{}': [0, 1]}", "", {}, {}, Heights{{PAPER, {0.0, 0.1}}},
      {"[WARN] AiConfig: height_yaml_node get key unicorn cannot parse into SemanticType",
        "[WARN] AiConfig: height_yaml_node get key {} cannot parse into SemanticType"}},
    // A mapping that is not a map skips the thresholds, whatever they hold, but not the heights.
    {"mapping sequence", Doc("[person, chair]", "nonsense", "3"), "{chair: [0.1, 0.9]}",
      mapping_error, Types{}, Thresholds{}, Heights{{CHAIR, {0.1, 0.9}}}},
    {"mapping scalar", Doc("person", "nonsense", "3"), "{chair: [0.1, 0.9]}", mapping_error,
      Types{}, Thresholds{}, Heights{{CHAIR, {0.1, 0.9}}}},
    {"mapping null", Doc("~", "nonsense", "3"), "{chair: [0.1, 0.9]}", mapping_error, Types{},
      Thresholds{}, Heights{{CHAIR, {0.1, 0.9}}}},
    // Documents that are not maps at all never throw (the height document gives no heights).
    {"empty documents", "", "", missing_all, Types{}, Thresholds{}, Heights{}},
    {"sequence documents", "[1, 2, 3]", "[1, 2, 3]", missing_all, Types{}, Thresholds{},
      Heights{}},
    {"text documents", "just text", "just text",
      "ParseFile Err: Failed to parse class_mapping, yaml-cpp: error at line 1, column 1: "
      "operator[] call on a scalar (key: \"class_mapping\"), Failed to parse "
      "default_confidence_threshold, yaml-cpp: error at line 1, column 1: operator[] call on a "
      "scalar (key: \"default_confidence_threshold\"), Failed to parse "
      "default_confidence_threshold, yaml-cpp: error at line 1, column 1: operator[] call on a "
      "scalar (key: \"confidence_threshold\").", Types{}, Thresholds{}, Heights{}},
  };
  for (const DocumentCase & c : cases) {
    SCOPED_TRACE(c.name);
    nimbra::test::LogCapture capture;
    std::string error;
    std::optional<AiConfig> built;
    ASSERT_NO_THROW(built.emplace(YAML::Load(c.meta), YAML::Load(c.height), error));
    EXPECT_EQ(capture.Lines(), c.log);
    if (c.error) {
      EXPECT_EQ(error, *c.error);
    }
    if (c.class_types) {
      EXPECT_EQ(built->class_types, *c.class_types);
    }
    if (c.thresholds) {
      EXPECT_EQ(built->confidence_thresholds, *c.thresholds);
    }
    if (c.heights) {
      EXPECT_EQ(built->height_ranges, *c.heights);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Thresholds

/// The thresholds read when the default threshold is written as `text` (a YAML scalar, sequence,
/// map or null); `error` receives the error text.
Thresholds WithDefault(const std::string & text, std::string & error)
{
  return AiConfig(YAML::Load(Doc("{0: person}", text)), YAML::Node(), error).confidence_thresholds;
}

TEST(AiConfigThresholds, NumbersFollowYamlCoreSyntax)
{
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<const char *, double>> numbers = {
    {"0.25", 0.25}, {"1", 1.0}, {"-2", -2.0}, {"+0.5", 0.5}, {".5", 0.5}, {"5.", 5.0},
    {"1e-1", 0.1}, {"2.5E+1", 25.0}, {"0x10", 16.0}, {"0o10", 8.0}, {"010", 10.0},
    {".inf", inf}, {".Inf", inf}, {".INF", inf}, {"+.inf", inf}, {"+.Inf", inf}, {"+.INF", inf},
    {"-.inf", -inf}, {"-.Inf", -inf}, {"-.INF", -inf}, {".nan", nan}, {".NaN", nan},
    {".NAN", nan},
  };
  for (const auto & [text, expected] : numbers) {
    std::string error;
    const Thresholds thresholds = WithDefault(text, error);
    EXPECT_EQ(error, "") << text;
    ASSERT_EQ(thresholds.size(), 1U) << text;
    const double read = thresholds[0];
    EXPECT_TRUE(read == expected || (std::isnan(read) && std::isnan(expected)))
      << text << ": " << read;
  }
  // Anything else, quoted or not, is refused and the default is half.
  for (const char * text : {"high", "[0.3]", "{a: 1}", "~", "0.3.1", "inf", "nan", "'-nan'",
      "'.nAn'", "'1e'", "'e5'", "'.'", "'+-1'", "'1_000'", "'0x'", "'0b1'", "'1e999'", "'- 1'",
      "'0.5abc'"})
  {
    std::string error;
    EXPECT_EQ(WithDefault(text, error), (Thresholds{0.5})) << text;
    EXPECT_EQ(error, "ParseFile Err: Failed to parse default_confidence_threshold, yaml-cpp: error "
      "at line 2, column 31: bad conversion.") << text;
  }
}

// ---------------------------------------------------------------------------------------------
// Logged summary

TEST(AiConfigSummary, ErrorThenOneLinePerClassAndHeight)
{
  nimbra::test::LogCapture capture;
  const auto config = semantic::CreateAiConfig(
    2, YAML::Load(Doc("{0: person, 2: coffee}", "0.45", "{2: 0.625}")),
    YAML::Load("{coffee: [-0.05, 0.02], person: [0.1, 12.5]}"));
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(
    capture.Lines(),
    (std::vector<std::string>{
      "[ERROR] cam_2 init AiConfig get error: ParseFile Err: key 2 is larger than map size, means "
      "the keys are not a continuous sequence.",
      "[INFO] cam_2 ai_conf_.parser label 0, type PERSON, thresh 0.4500.",
      "[INFO] cam_2 ai_conf_.parser label 1, type NO_TYPE, thresh 0.4500.",
      "[INFO] cam_2 ai_conf_.parser label 2, type COFFEE, thresh 0.6250.",
      "[INFO] cam_2 ai_conf_.map type 103, min -0.0500, max 0.0200.",
      "[INFO] cam_2 ai_conf_.map type 300, min 0.1000, max 12.5000.",
    }));

  // A clean configuration logs no error line.
  nimbra::test::LogCapture clean;
  semantic::CreateAiConfig(1, YAML::Load(Doc("{0: swab}", "1")), YAML::Node());
  EXPECT_EQ(
    clean.Lines(),
    (std::vector<std::string>{"[INFO] cam_1 ai_conf_.parser label 0, type SWAB, thresh 1.0000."}));
}

// ---------------------------------------------------------------------------------------------
// Model files

namespace fs = std::filesystem;

const fs::path kConfigDir = NIMBRA_OD_CONFIG_DIR;

TEST(ModelFiles, HeightFileIsLookedUpInTheShareConfigDirectoryAndErrorsNameTheFile)
{
  const nimbra::test::PackagePrefix prefix;
  const fs::path config_dir = prefix.configDir();
  EXPECT_EQ(semantic::ModelHeightFilePath("heights.yaml"), (config_dir / "heights.yaml").string());
  prefix.write(config_dir / "heights.yaml", "person: [0.2, 2.1]\n");
  const YAML::Node heights = semantic::LoadModelHeightFile("heights.yaml");
  ASSERT_TRUE(heights.IsMap());
  EXPECT_EQ(heights["person"][1].as<double>(), 2.1);

  EXPECT_THROW(semantic::LoadModelHeightFile("absent.yaml"), YAML::BadFile);
  // An empty name points at the config directory itself.
  EXPECT_THROW(semantic::LoadModelHeightFile(""), YAML::BadFile);
  prefix.write(config_dir / "broken.yaml", "person: [0.2, 2.1\nchair: {\n");
  try {
    semantic::LoadModelHeightFile("broken.yaml");
    ADD_FAILURE() << "no exception";
  } catch (const YAML::ParserException & e) {
    EXPECT_NE(std::string(e.what()).find((config_dir / "broken.yaml").string()), std::string::npos)
      << e.what();
  }
  try {
    semantic::LoadModelMetaFile("/nonexistent/model.yaml");
    ADD_FAILURE() << "no exception";
  } catch (const YAML::BadFile & e) {
    EXPECT_EQ(std::string(e.what()), "bad file: /nonexistent/model.yaml");
  }
  setenv("AMENT_PREFIX_PATH", (prefix.root() / "nowhere").c_str(), 1);
  EXPECT_THROW(
    semantic::LoadModelHeightFile("heights.yaml"), ament_index_cpp::PackageNotFoundError);
}

TEST(SampleFiles, ModelDescriptionSelectsTheModelAndBuildsACleanConfiguration)
{
  const YAML::Node meta = semantic::LoadModelMetaFile((kConfigDir / "yolov8_seg.yaml").string());
  EXPECT_TRUE(semantic::IsYolov8SegModel(meta));
  // Only the exact name selects the model: near misses and other shapes do not.
  for (const char * document : {"model_name: YOLOV8_SEG", "model_name: 'yolov8_seg '",
      "model_name: [yolov8_seg]", "model_name: ~", "other: yolov8_seg", "yolov8_seg", "",
      "[model_name]"})
  {
    EXPECT_FALSE(semantic::IsYolov8SegModel(YAML::Load(document))) << document;
  }
  const YAML::Node heights = YAML::LoadFile((kConfigDir / "model_height.yaml").string());
  std::string error;
  const semantic::AiConfig config(meta, heights, error);
  EXPECT_EQ(error, "");

  // Every id from 0 names a class, and each class appears once.
  ASSERT_EQ(config.class_types.size(), meta["class_mapping"].size());
  const std::set<semantic::SemanticType> distinct(
    config.class_types.begin(), config.class_types.end());
  EXPECT_EQ(distinct.size(), config.class_types.size());
  EXPECT_EQ(distinct.count(semantic::NO_TYPE), 0U);
  // Every entry of the height file names a class and holds a range.
  EXPECT_EQ(config.height_ranges.size(), heights.size());
}

}  // namespace
