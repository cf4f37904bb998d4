// Named parameter shaped like rclcpp::Parameter.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <rcl_interfaces/msg/parameter.hpp>

#include "rclcdds/exceptions.hpp"
#include "rclcdds/parameter_value.hpp"

namespace rclcdds
{

/// A parameter name with its typed value.
class Parameter
{
public:
  /// Empty name, value not set.
  Parameter() = default;
  /// Given name, value not set.
  explicit Parameter(const std::string & name) : name_(name) {}
  Parameter(const std::string & name, const ParameterValue & value) : name_(name), value_(value) {}
  /// Given name and a value of any type ParameterValue accepts.
  template<typename ValueTypeT>
  Parameter(const std::string & name, ValueTypeT value)
  : Parameter(name, ParameterValue(value)) {}

  const std::string & get_name() const {return name_;}
  ParameterType get_type() const {return value_.get_type();}
  /// Name of the value's type ("integer", "double", ...).
  std::string get_type_name() const {return to_string(get_type());}
  const ParameterValue & get_parameter_value() const {return value_;}
  rcl_interfaces::msg::ParameterValue get_value_message() const {return value_.to_value_msg();}

  /// Value of the given parameter type. @throws ParameterTypeException on another type
  template<ParameterType ParamT>
  decltype(auto) get_value() const {return value_.get<ParamT>();}

  /// Value as a C++ type (see ParameterValue::get).
  /// @throws exceptions::InvalidParameterTypeException naming this parameter on a type mismatch
  template<typename T>
  decltype(auto) get_value() const
  {
    try {
      return value_.get<T>();
    } catch (const ParameterTypeException & ex) {
      throw exceptions::InvalidParameterTypeException(name_, ex.what());
    }
  }

  /// @{ Typed reads. @throws ParameterTypeException on another type
  bool as_bool() const {return get_value<PARAMETER_BOOL>();}
  int64_t as_int() const {return get_value<PARAMETER_INTEGER>();}
  double as_double() const {return get_value<PARAMETER_DOUBLE>();}
  const std::string & as_string() const {return get_value<PARAMETER_STRING>();}
  const std::vector<uint8_t> & as_byte_array() const {return get_value<PARAMETER_BYTE_ARRAY>();}
  const std::vector<bool> & as_bool_array() const {return get_value<PARAMETER_BOOL_ARRAY>();}
  const std::vector<int64_t> & as_integer_array() const
  {
    return get_value<PARAMETER_INTEGER_ARRAY>();
  }
  const std::vector<double> & as_double_array() const {return get_value<PARAMETER_DOUBLE_ARRAY>();}
  const std::vector<std::string> & as_string_array() const
  {
    return get_value<PARAMETER_STRING_ARRAY>();
  }
  /// @}

  static Parameter from_parameter_msg(const rcl_interfaces::msg::Parameter & parameter);
  rcl_interfaces::msg::Parameter to_parameter_msg() const;

  /// Value as text (see to_string(ParameterValue)).
  std::string value_to_string() const {return to_string(value_);}

  bool operator==(const Parameter & rhs) const {return name_ == rhs.name_ && value_ == rhs.value_;}
  bool operator!=(const Parameter & rhs) const {return !(*this == rhs);}

private:
  std::string name_;
  ParameterValue value_;
};

/// "{"name": {"type": "integer", "value": "3"}}"-style text of one parameter.
std::string to_string(const Parameter & parameter);

std::ostream & operator<<(std::ostream & os, const Parameter & parameter);

}  // namespace rclcdds
