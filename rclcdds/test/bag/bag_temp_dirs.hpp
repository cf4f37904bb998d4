// Temporary directories of the bag tests, removed when the test program ends.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace rclcdds_bag_test
{

/// Removes the directories temp_dir() made when the test program ends.
class TempDirs
{
public:
  ~TempDirs()
  {
    for (const auto & dir : dirs_) {
      if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
        continue;  // nothing more to do about a directory that stays
      }
    }
  }
  std::string make()
  {
    char path[] = "/tmp/rclcdds_bag_test_XXXXXX";
    const char * made = mkdtemp(path);
    if (made == nullptr) {
      return "";
    }
    dirs_.emplace_back(made);
    return made;
  }

private:
  std::vector<std::string> dirs_;
};

/// A new empty directory, removed at exit.
inline std::string temp_dir()
{
  static TempDirs dirs;
  return dirs.make();
}

}  // namespace rclcdds_bag_test
