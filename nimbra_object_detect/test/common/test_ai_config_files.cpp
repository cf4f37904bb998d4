// Loading the model description and height files, and the sample files shipped in config/.
#include <ament_index_cpp/get_package_prefix.hpp>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "common/semantic_type.hpp"

namespace
{

namespace fs = std::filesystem;

const fs::path kConfigDir = NIMBRA_OD_CONFIG_DIR;

/// A private ament prefix holding nimbra_object_detect's share directory, set as the only entry of
/// AMENT_PREFIX_PATH for the lifetime of the fixture.
class AmentPrefixTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    std::string pattern = (fs::temp_directory_path() / "nimbra_od_prefix_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    prefix_ = pattern;
    const fs::path marker = prefix_ / "share/ament_index/resource_index/packages";
    fs::create_directories(marker);
    std::ofstream(marker / "nimbra_object_detect").close();
    config_dir_ = prefix_ / "share/nimbra_object_detect/config";
    fs::create_directories(config_dir_);
    if (const char * previous = std::getenv("AMENT_PREFIX_PATH")) {
      previous_prefix_path_ = previous;
      had_prefix_path_ = true;
    }
    setenv("AMENT_PREFIX_PATH", prefix_.c_str(), 1);
  }

  void TearDown() override
  {
    if (had_prefix_path_) {
      setenv("AMENT_PREFIX_PATH", previous_prefix_path_.c_str(), 1);
    } else {
      unsetenv("AMENT_PREFIX_PATH");
    }
    std::error_code ignored;
    fs::remove_all(prefix_, ignored);
  }

  void WriteConfig(const std::string & name, const std::string & text)
  {
    std::ofstream(config_dir_ / name) << text;
  }

  fs::path prefix_;
  fs::path config_dir_;
  std::string previous_prefix_path_;
  bool had_prefix_path_ = false;
};

TEST_F(AmentPrefixTest, HeightFileIsLookedUpInTheShareConfigDirectory)
{
  EXPECT_EQ(
    semantic::ModelHeightFilePath("heights.yaml"),
    (prefix_ / "share/nimbra_object_detect/config/heights.yaml").string());
  WriteConfig("heights.yaml", "person: [0.2, 2.1]\n");
  const YAML::Node heights = semantic::LoadModelHeightFile("heights.yaml");
  ASSERT_TRUE(heights.IsMap());
  EXPECT_EQ(heights["person"][1].as<double>(), 2.1);

  EXPECT_THROW(semantic::LoadModelHeightFile("absent.yaml"), YAML::BadFile);
  // An empty name points at the config directory itself.
  EXPECT_THROW(semantic::LoadModelHeightFile(""), YAML::BadFile);
  WriteConfig("broken.yaml", "person: [0.2, 2.1\nchair: {\n");
  try {
    semantic::LoadModelHeightFile("broken.yaml");
    ADD_FAILURE() << "no exception";
  } catch (const YAML::ParserException & e) {
    EXPECT_NE(std::string(e.what()).find((config_dir_ / "broken.yaml").string()), std::string::npos)
      << e.what();
  }
  setenv("AMENT_PREFIX_PATH", (prefix_ / "nowhere").c_str(), 1);
  EXPECT_THROW(
    semantic::LoadModelHeightFile("heights.yaml"), ament_index_cpp::PackageNotFoundError);
}

TEST(ModelMetaFile, MissingFileThrowsBadFileNamingIt)
{
  try {
    semantic::LoadModelMetaFile("/nonexistent/model.yaml");
    FAIL() << "no exception";
  } catch (const YAML::BadFile & e) {
    EXPECT_EQ(std::string(e.what()), "bad file: /nonexistent/model.yaml");
  }
  EXPECT_THROW(semantic::LoadModelMetaFile(""), YAML::BadFile);
}

TEST(SampleFiles, ModelDescriptionBuildsACleanConfiguration)
{
  const YAML::Node meta = semantic::LoadModelMetaFile((kConfigDir / "yolov8_seg.yaml").string());
  EXPECT_TRUE(semantic::IsYolov8SegModel(meta));
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
