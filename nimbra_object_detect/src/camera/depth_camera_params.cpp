// Live ground-parameter updates of a depth camera.
#include <string>

#include "camera/depth_camera.hpp"
#include "common/logger.hpp"

namespace nimbra
{

rcl_interfaces::msg::SetParametersResult DepthCamera::dynamicParametersCallback(
  const std::vector<rclcdds::Parameter> & parameters)
{
  std::lock_guard<std::mutex> lock(ground_mutex_);
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  const std::string prefix = "cam" + std::to_string(cam_id) + "_params.";
  // Validate the whole request first: a refused request changes nothing, not even its valid part.
  std::vector<std::pair<std::size_t, float>> updates;
  for (const auto & parameter : parameters) {
    const std::string & name = parameter.get_name();
    LOG_INFO("dynamicParametersCallback get new param named {}", name);
    for (std::size_t field = 0; field < kGroundFieldCount; ++field) {
      if (name != prefix + GroundFieldName(field)) {
        continue;
      }
      if (parameter.get_type() != rclcdds::ParameterType::PARAMETER_DOUBLE) {
        result.successful = false;
        result.reason = "parameter '" + name + "' must be a double, got " +
          parameter.get_type_name();
        LOG_WARN("cam_{0:d} refused {1:s}", cam_id, result.reason);
        return result;
      }
      updates.emplace_back(field, static_cast<float>(parameter.as_double()));
      break;
    }
  }
  for (const auto & [field, value] : updates) {
    GroundField(ground_params_, field) = value;
    ground_params_changed_.store(true);
  }
  return result;
}

}  // namespace nimbra
