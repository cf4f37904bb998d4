// Test helper: a private ament prefix holding nimbra_object_detect's share directory.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace nimbra::test
{

/// Creates <tmp>/nimbra_od_prefix_<pid>/ (one such object at a time per process) with the
/// package's index marker and an empty share/nimbra_object_detect/config/, and makes it the
/// only AMENT_PREFIX_PATH entry while the object lives (the previous value, or none, is restored).
class PackagePrefix
{
public:
  PackagePrefix()
  : root_(std::filesystem::temp_directory_path() /
      ("nimbra_od_prefix_" + std::to_string(::getpid())))
  {
    write(root_ / "share/ament_index/resource_index/packages/nimbra_object_detect", "");
    std::filesystem::create_directories(configDir());
    if (const char * previous = std::getenv("AMENT_PREFIX_PATH")) {
      previous_ = previous;
    }
    ::setenv("AMENT_PREFIX_PATH", root_.c_str(), 1);
  }

  ~PackagePrefix()
  {
    if (previous_.has_value()) {
      ::setenv("AMENT_PREFIX_PATH", previous_->c_str(), 1);
    } else {
      ::unsetenv("AMENT_PREFIX_PATH");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  PackagePrefix(const PackagePrefix &) = delete;
  PackagePrefix & operator=(const PackagePrefix &) = delete;

  const std::filesystem::path & root() const {return root_;}
  std::filesystem::path configDir() const {return root_ / "share/nimbra_object_detect/config";}

  /// Writes `text` to `path`, creating its folders; returns the path.
  static std::string write(const std::filesystem::path & path, const std::string & text)
  {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
    return path.string();
  }

private:
  std::filesystem::path root_;
  std::optional<std::string> previous_;
};

}  // namespace nimbra::test
