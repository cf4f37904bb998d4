// Full message definition text of a ROS 2 type ("ros2msg": the type's .msg file followed by
// those of every type it uses), as MCAP schemas carry it.
#pragma once

#include <functional>
#include <string>

namespace rclcdds_bag
{

/// Text of "pkg/msg/Type"'s .msg file, empty when not found.
using MsgFileLookup = std::function<std::string(const std::string & package, const std::string & type)>;

/// Looks up share/<pkg>/msg/<Type>.msg under each AMENT_PREFIX_PATH entry.
std::string find_msg_file(const std::string & package, const std::string & type);

/// The type's definition followed by "====...\nMSG: pkg/Type\n<text>" for each type it depends
/// on (each once); empty when the type's own file is missing.
std::string message_definition(
  const std::string & type_name, const MsgFileLookup & lookup = find_msg_file);

}  // namespace rclcdds_bag
