// Loading the model description and height files, and the sample files shipped in config/.
#include <ament_index_cpp/get_package_prefix.hpp>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <set>
#include <string>

#include "common/semantic_type.hpp"
#include "package_prefix.hpp"

namespace
{

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
