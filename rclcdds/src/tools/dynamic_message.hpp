// Messages whose type is known only at run time, through installed introspection type support.
#pragma once

#include <memory>
#include <string>

#include "rclcdds/serialization.hpp"

namespace rclcdds_cli
{

/// Finds the introspection description of "pkg/msg/Type" (or "pkg/Type") by loading
/// lib<pkg>__rosidl_typesupport_introspection_cpp.so from the library path or the
/// AMENT_PREFIX_PATH and calling its type-support symbol.
/// @throws std::runtime_error naming the library or symbol that is missing
const rclcdds::MessageMembers & load_message_members(const std::string & type_name);

/// "sensor_msgs::msg::dds_::Image_" -> "sensor_msgs/msg/Image"; empty when not a ROS type name.
std::string ros_type_from_dds(const std::string & dds_type);

/// One constructed message of a run-time type (constructed and destroyed through its
/// introspection init and fini functions).
class DynamicMessage
{
public:
  explicit DynamicMessage(const rclcdds::MessageMembers & members);
  ~DynamicMessage();
  DynamicMessage(const DynamicMessage &) = delete;
  DynamicMessage & operator=(const DynamicMessage &) = delete;

  void * data() {return storage_.get();}
  const void * data() const {return storage_.get();}
  const rclcdds::MessageMembers & members() const {return members_;}

private:
  const rclcdds::MessageMembers & members_;
  std::unique_ptr<unsigned char[]> storage_;
};

}  // namespace rclcdds_cli
