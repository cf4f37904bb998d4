#include "rclcdds/parameter_value.hpp"

#include <sstream>
#include <type_traits>

namespace rclcdds
{

std::string to_string(ParameterType type)
{
  switch (type) {
    case PARAMETER_NOT_SET: return "not set";
    case PARAMETER_BOOL: return "bool";
    case PARAMETER_INTEGER: return "integer";
    case PARAMETER_DOUBLE: return "double";
    case PARAMETER_STRING: return "string";
    case PARAMETER_BYTE_ARRAY: return "byte_array";
    case PARAMETER_BOOL_ARRAY: return "bool_array";
    case PARAMETER_INTEGER_ARRAY: return "integer_array";
    case PARAMETER_DOUBLE_ARRAY: return "double_array";
    case PARAMETER_STRING_ARRAY: return "string_array";
  }
  return "unknown type";
}

std::ostream & operator<<(std::ostream & os, ParameterType type)
{
  return os << to_string(type);
}

ParameterValue::ParameterValue()
{
  value_.type = PARAMETER_NOT_SET;
}

ParameterValue::ParameterValue(const rcl_interfaces::msg::ParameterValue & value)
{
  // Keep only the member the type selects, so equal values compare equal.
  value_.type = value.type;
  switch (value.type) {
    case PARAMETER_NOT_SET: break;
    case PARAMETER_BOOL: value_.bool_value = value.bool_value; break;
    case PARAMETER_INTEGER: value_.integer_value = value.integer_value; break;
    case PARAMETER_DOUBLE: value_.double_value = value.double_value; break;
    case PARAMETER_STRING: value_.string_value = value.string_value; break;
    case PARAMETER_BYTE_ARRAY: value_.byte_array_value = value.byte_array_value; break;
    case PARAMETER_BOOL_ARRAY: value_.bool_array_value = value.bool_array_value; break;
    case PARAMETER_INTEGER_ARRAY: value_.integer_array_value = value.integer_array_value; break;
    case PARAMETER_DOUBLE_ARRAY: value_.double_array_value = value.double_array_value; break;
    case PARAMETER_STRING_ARRAY: value_.string_array_value = value.string_array_value; break;
    default:
      throw std::runtime_error(
              "unknown parameter type " + std::to_string(static_cast<int>(value.type)));
  }
}

ParameterValue::ParameterValue(bool bool_value)
{
  value_.type = PARAMETER_BOOL;
  value_.bool_value = bool_value;
}

ParameterValue::ParameterValue(int int_value) : ParameterValue(static_cast<int64_t>(int_value)) {}

ParameterValue::ParameterValue(int64_t int_value)
{
  value_.type = PARAMETER_INTEGER;
  value_.integer_value = int_value;
}

ParameterValue::ParameterValue(float double_value)
: ParameterValue(static_cast<double>(double_value)) {}

ParameterValue::ParameterValue(double double_value)
{
  value_.type = PARAMETER_DOUBLE;
  value_.double_value = double_value;
}

ParameterValue::ParameterValue(const std::string & string_value)
{
  value_.type = PARAMETER_STRING;
  value_.string_value = string_value;
}

ParameterValue::ParameterValue(const char * string_value)
: ParameterValue(std::string(string_value ? string_value : "")) {}

ParameterValue::ParameterValue(const std::vector<uint8_t> & byte_array_value)
{
  value_.type = PARAMETER_BYTE_ARRAY;
  value_.byte_array_value = byte_array_value;
}

ParameterValue::ParameterValue(const std::vector<bool> & bool_array_value)
{
  value_.type = PARAMETER_BOOL_ARRAY;
  value_.bool_array_value = bool_array_value;
}

ParameterValue::ParameterValue(const std::vector<int> & int_array_value)
{
  value_.type = PARAMETER_INTEGER_ARRAY;
  value_.integer_array_value.assign(int_array_value.begin(), int_array_value.end());
}

ParameterValue::ParameterValue(const std::vector<int64_t> & int_array_value)
{
  value_.type = PARAMETER_INTEGER_ARRAY;
  value_.integer_array_value = int_array_value;
}

ParameterValue::ParameterValue(const std::vector<float> & double_array_value)
{
  value_.type = PARAMETER_DOUBLE_ARRAY;
  value_.double_array_value.assign(double_array_value.begin(), double_array_value.end());
}

ParameterValue::ParameterValue(const std::vector<double> & double_array_value)
{
  value_.type = PARAMETER_DOUBLE_ARRAY;
  value_.double_array_value = double_array_value;
}

ParameterValue::ParameterValue(const std::vector<std::string> & string_array_value)
{
  value_.type = PARAMETER_STRING_ARRAY;
  value_.string_array_value = string_array_value;
}

namespace
{
template<typename T>
std::string array_to_string(const std::vector<T> & values)
{
  std::ostringstream os;
  os << std::boolalpha << "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) {
      os << ", ";
    }
    if constexpr (std::is_same_v<T, uint8_t>) {
      os << static_cast<int>(values[i]);
    } else {
      os << values[i];
    }
  }
  os << "]";
  return os.str();
}
}  // namespace

std::string to_string(const ParameterValue & value)
{
  switch (value.get_type()) {
    case PARAMETER_NOT_SET: return "not set";
    case PARAMETER_BOOL: return value.get<bool>() ? "true" : "false";
    case PARAMETER_INTEGER: return std::to_string(value.get<int64_t>());
    case PARAMETER_DOUBLE: return std::to_string(value.get<double>());
    case PARAMETER_STRING: return value.get<std::string>();
    case PARAMETER_BYTE_ARRAY: return array_to_string(value.get<std::vector<uint8_t>>());
    case PARAMETER_BOOL_ARRAY: {
        const std::vector<bool> & v = value.get<std::vector<bool>>();
        return array_to_string(std::vector<bool>(v.begin(), v.end()));
      }
    case PARAMETER_INTEGER_ARRAY: return array_to_string(value.get<std::vector<int64_t>>());
    case PARAMETER_DOUBLE_ARRAY: return array_to_string(value.get<std::vector<double>>());
    case PARAMETER_STRING_ARRAY: return array_to_string(value.get<std::vector<std::string>>());
  }
  return "unknown type";
}

std::ostream & operator<<(std::ostream & os, const ParameterValue & value)
{
  return os << to_string(value);
}

}  // namespace rclcdds
