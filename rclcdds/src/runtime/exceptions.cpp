#include "rclcdds/exceptions.hpp"

#include <utility>

namespace rclcdds
{
namespace exceptions
{

namespace
{
std::string join_quoted(const std::vector<std::string> & items)
{
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "'" : ", '") + items[i] + "'";
  }
  return out;
}

std::string file_error_text(
  const std::string & file, int line, const std::string & key, const std::string & reason)
{
  std::string text = "parameter file '" + file + "'";
  if (line > 0) {
    text += ", line " + std::to_string(line);
  }
  if (!key.empty()) {
    text += ", key '" + key + "'";
  }
  return text + ": " + reason;
}
}  // namespace

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string> unknown_ros_args_in)
: std::runtime_error("found unknown ROS arguments: " + join_quoted(unknown_ros_args_in)),
  unknown_ros_args(std::move(unknown_ros_args_in))
{
}

ParameterFileError::ParameterFileError(
  const std::string & file_in, int line_in, const std::string & key_in, const std::string & reason)
: std::runtime_error(file_error_text(file_in, line_in, key_in, reason)),
  file(file_in), line(line_in), key(key_in)
{
}

}  // namespace exceptions
}  // namespace rclcdds
