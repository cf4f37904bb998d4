#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/log_capture.hpp"
#include "tracker/tracker_test_support.hpp"
#include "tracker/trash_tracker_config.hpp"

namespace orvix::perception
{
namespace
{

// Every key of a valid tracker file, each on its own line so that a case can drop or replace it.
const std::map<std::string, std::string> kValidKeys = {
  {"dist_thres", "0.3"},
  {"min_age_threshold", "4"},
  {"max_retain_time", "12"},
  {"cache_radius", "6.5"},
  {"sensor_range_rate", "0.75"},
  {"base_handle_waste_height_metric", "0.04"},
  {"base_handle_waste_length_metric", "0.12"},
  {"base_handle_class", "[paper, Cotton_Ball, ~, not_a_class]"},
  {"arm_handle_class", "[BOTTLE, paper_cup]"},
  {"uncertain_class", "[mask]"},
  {"base_footprint", "[-0.45, -0.3, 0.5, 0.3, 99.0]"},
  {"class_num", "10"},
};

class TrackerConfigFile : public testing::Test
{
protected:
  void TearDown() override {std::remove(path_.c_str());}

  const std::string & Write(const std::string & text)
  {
    std::ofstream(path_) << text;
    return path_;
  }

  const std::string & WriteKeys(const std::map<std::string, std::string> & keys)
  {
    std::string text;
    for (const auto & [key, value] : keys) {
      text += key + ": " + value + "\n";
    }
    return Write(text);
  }

  // Loads `path` and returns the error text, or "" when it loaded.
  static std::string LoadError(const std::string & path)
  {
    try {
      LoadTrashTrackerConfig(path);
    } catch (const TrackerConfigError & e) {
      return e.what();
    }
    return "";
  }

  const std::string path_ =
    testing::TempDir() + "tracker_config_test_" + std::to_string(::getpid()) + ".yaml";
};

TEST_F(TrackerConfigFile, ReadsEveryKeyAndTheShippedFilePassesTheChecks)
{
  nimbra::test::LogCapture capture;
  const TrashTrackerConfig config = LoadTrashTrackerConfig(WriteKeys(kValidKeys));
  EXPECT_FLOAT_EQ(config.dist_thres, 0.3F);
  EXPECT_EQ(config.min_age_threshold, 4);
  EXPECT_EQ(config.max_retain_time, 12);
  EXPECT_FLOAT_EQ(config.cache_radius, 6.5F);
  EXPECT_FLOAT_EQ(config.sensor_range_rate, 0.75F);
  EXPECT_FLOAT_EQ(config.base_handle_waste_height_metric, 0.04F);
  EXPECT_FLOAT_EQ(config.base_handle_waste_length_metric, 0.12F);
  EXPECT_EQ(config.base_handle_class, (std::set<int32_t>{semantic::PAPER, semantic::COTTON_BALL}));
  EXPECT_EQ(config.arm_handle_class, (std::set<int32_t>{semantic::BOTTLE, semantic::PAPER_CUP}));
  EXPECT_EQ(config.uncertain_class, (std::set<int32_t>{semantic::MASK}));
  EXPECT_EQ(config.footprint_box, (std::array<float, 4>{{-0.45F, -0.3F, 0.5F, 0.3F}}));
  EXPECT_EQ(config.class_num, 10);
  // The null entry is skipped silently, the unknown name with a warning.
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"[WARN] Tracker configuration " + path_ +
    ": entry 3 of 'base_handle_class' is not a class name, skipped."});

  EXPECT_EQ(LoadTrashTrackerConfig(std::string(NIMBRA_OD_CONFIG_DIR) + "/tracker.yaml").Check(),
    "");
}

TEST_F(TrackerConfigFile, EachKeyIsCheckedForPresenceAndFormAndBadFilesAreRefused)
{
  for (const auto & entry : kValidKeys) {
    auto keys = kValidKeys;
    keys.erase(entry.first);
    const std::string error = LoadError(WriteKeys(keys));
    EXPECT_EQ(error.rfind("tracker configuration '" + path_ + "': key '" + entry.first + "'", 0),
      0U) << error;
    EXPECT_NE(error.find(", got nothing (key missing)"), std::string::npos) << error;
  }

  struct Case
  {
    std::string key;
    std::string value;
    std::string error;  ///< part of the error text; "" for a value that loads
  };
  const std::vector<Case> cases = {
    {"dist_thres", "far", "key 'dist_thres' must be a number, got 'far'"},
    {"dist_thres", "[0.2]", "key 'dist_thres' must be a number, got a sequence or map"},
    {"dist_thres", "~", "key 'dist_thres' must be a number, got null"},
    {"min_age_threshold", "2.5", "key 'min_age_threshold' must be an integer, got '2.5'"},
    {"class_num", "ten", "key 'class_num' must be an integer"},
    {"base_handle_class", "paper", "key 'base_handle_class' must be a sequence of class names"},
    {"uncertain_class", "~", "key 'uncertain_class' must be a sequence of class names"},
    {"base_footprint", "[-0.4, -0.3, 0.4]",
      "key 'base_footprint' must be a sequence of at least four numbers (min x, min y, max x, "
      "max y), got 3 element(s)"},
    {"base_footprint", "[-0.4, -0.3, wide, 0.3]", "got element 2 not a number"},
    {"base_footprint", "0.4", "got a value that is not a sequence"},
    {"base_footprint", "[-0.4, .nan, 0.4, 0.3]", "'base_footprint' must hold finite numbers"},
    {"dist_thres", "-0.2", "'dist_thres' must be a positive number of metres"},
    {"dist_thres", ".nan", "'dist_thres' must be a positive number of metres"},
    {"dist_thres", ".inf", "'dist_thres' must be a positive number of metres"},
    {"cache_radius", "0", "'cache_radius' must be a positive number of metres"},
    {"sensor_range_rate", ".nan", "'sensor_range_rate' must be a finite number"},
    {"base_handle_waste_height_metric", "-.inf", "'base_handle_waste_height_metric' must be"},
    {"base_handle_waste_length_metric", ".nan", "'base_handle_waste_length_metric' must be"},
    // Values that change behaviour but break nothing.
    {"sensor_range_rate", "1.5", ""},
    {"sensor_range_rate", "-0.5", ""},
    {"min_age_threshold", "-2", ""},
    {"max_retain_time", "-1", ""},
    {"base_footprint", "[0.4, 0.3, -0.4, -0.3]", ""},
    {"base_handle_waste_height_metric", "-0.01", ""},
    {"base_handle_waste_length_metric", "0", ""},
  };
  for (const Case & c : cases) {
    auto keys = kValidKeys;
    keys[c.key] = c.value;
    const std::string error = LoadError(WriteKeys(keys));
    EXPECT_TRUE(c.error.empty() ? error.empty() : error.find(c.error) != std::string::npos)
      << c.key << ": " << c.value << " gave \"" << error << "\"";
  }

  EXPECT_NE(LoadError(path_ + ".absent").find("cannot be opened"), std::string::npos);
  EXPECT_NE(LoadError(Write("dist_thres: [0.2\n")).find("is not valid YAML"), std::string::npos);
  EXPECT_NE(LoadError(Write("- 1\n- 2\n")).find("must be a map of keys"), std::string::npos);
  EXPECT_NE(LoadError(Write("")).find("must be a map of keys"), std::string::npos);

  // A tracker refuses a bad file, and a bad configuration built in code.
  EXPECT_THROW(TrashTracker(Write("- 1\n"), nullptr, nullptr), TrackerConfigError);
  TrashTrackerConfig config = LoadTrashTrackerConfig(WriteKeys(kValidKeys));
  config.dist_thres = 0.0F;
  EXPECT_THROW(TrashTracker(config, nullptr, nullptr), TrackerConfigError);
}

}  // namespace
}  // namespace orvix::perception
