// Typed parameter value shaped like rclcpp::ParameterValue.
#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <rcl_interfaces/msg/parameter_type.hpp>
#include <rcl_interfaces/msg/parameter_value.hpp>

namespace rclcdds
{

/// Parameter types, numbered as rcl_interfaces/ParameterType numbers them.
enum ParameterType : uint8_t
{
  PARAMETER_NOT_SET = rcl_interfaces::msg::ParameterType::PARAMETER_NOT_SET,
  PARAMETER_BOOL = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL,
  PARAMETER_INTEGER = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER,
  PARAMETER_DOUBLE = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE,
  PARAMETER_STRING = rcl_interfaces::msg::ParameterType::PARAMETER_STRING,
  PARAMETER_BYTE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BYTE_ARRAY,
  PARAMETER_BOOL_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_BOOL_ARRAY,
  PARAMETER_INTEGER_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_INTEGER_ARRAY,
  PARAMETER_DOUBLE_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_DOUBLE_ARRAY,
  PARAMETER_STRING_ARRAY = rcl_interfaces::msg::ParameterType::PARAMETER_STRING_ARRAY,
};

/// Name of a type as rclcpp prints it: "not set", "bool", "integer", "double", "string",
/// "byte_array", "bool_array", "integer_array", "double_array", "string_array".
std::string to_string(ParameterType type);

std::ostream & operator<<(std::ostream & os, ParameterType type);

/// Raised by ParameterValue::get when the stored type is not the requested one.
class ParameterTypeException : public std::runtime_error
{
public:
  /// Message: "expected [<expected>] got [<actual>]".
  ParameterTypeException(ParameterType expected, ParameterType actual)
  : std::runtime_error("expected [" + to_string(expected) + "] got [" + to_string(actual) + "]") {}
};

/// One value of one of the parameter types; never converts between types on read.
class ParameterValue
{
public:
  /// A value of type PARAMETER_NOT_SET.
  ParameterValue();
  explicit ParameterValue(const rcl_interfaces::msg::ParameterValue & value);
  explicit ParameterValue(bool bool_value);
  explicit ParameterValue(int int_value);
  explicit ParameterValue(int64_t int_value);
  explicit ParameterValue(float double_value);
  explicit ParameterValue(double double_value);
  explicit ParameterValue(const std::string & string_value);
  explicit ParameterValue(const char * string_value);
  explicit ParameterValue(const std::vector<uint8_t> & byte_array_value);
  explicit ParameterValue(const std::vector<bool> & bool_array_value);
  explicit ParameterValue(const std::vector<int> & int_array_value);
  explicit ParameterValue(const std::vector<int64_t> & int_array_value);
  explicit ParameterValue(const std::vector<float> & double_array_value);
  explicit ParameterValue(const std::vector<double> & double_array_value);
  explicit ParameterValue(const std::vector<std::string> & string_array_value);

  ParameterType get_type() const {return static_cast<ParameterType>(value_.type);}

  /// The value as an rcl_interfaces message.
  rcl_interfaces::msg::ParameterValue to_value_msg() const {return value_;}

  bool operator==(const ParameterValue & rhs) const {return value_ == rhs.value_;}
  bool operator!=(const ParameterValue & rhs) const {return !(*this == rhs);}

  /// Value of the given parameter type. @throws ParameterTypeException on another type
  template<ParameterType type>
  decltype(auto) get() const
  {
    check(type);
    if constexpr (type == PARAMETER_BOOL) {
      return static_cast<const bool &>(value_.bool_value);
    } else if constexpr (type == PARAMETER_INTEGER) {
      return static_cast<const int64_t &>(value_.integer_value);
    } else if constexpr (type == PARAMETER_DOUBLE) {
      return static_cast<const double &>(value_.double_value);
    } else if constexpr (type == PARAMETER_STRING) {
      return static_cast<const std::string &>(value_.string_value);
    } else if constexpr (type == PARAMETER_BYTE_ARRAY) {
      return static_cast<const std::vector<uint8_t> &>(value_.byte_array_value);
    } else if constexpr (type == PARAMETER_BOOL_ARRAY) {
      return static_cast<const std::vector<bool> &>(value_.bool_array_value);
    } else if constexpr (type == PARAMETER_INTEGER_ARRAY) {
      return static_cast<const std::vector<int64_t> &>(value_.integer_array_value);
    } else if constexpr (type == PARAMETER_DOUBLE_ARRAY) {
      return static_cast<const std::vector<double> &>(value_.double_array_value);
    } else if constexpr (type == PARAMETER_STRING_ARRAY) {
      return static_cast<const std::vector<std::string> &>(value_.string_array_value);
    } else {
      static_assert(type != PARAMETER_NOT_SET, "a value of type PARAMETER_NOT_SET holds nothing");
    }
  }

  /// Value as a C++ type: bool; any other integral type reads an integer; float and double
  /// read a double; std::string; the vector types read the matching array (vector<int> and
  /// vector<float> are converted element-wise from integer and double arrays).
  /// @throws ParameterTypeException when the stored type does not match
  template<typename T>
  decltype(auto) get() const
  {
    using U = std::decay_t<T>;
    if constexpr (std::is_same_v<U, ParameterValue>) {
      return static_cast<const ParameterValue &>(*this);
    } else if constexpr (std::is_same_v<U, bool>) {
      return get<PARAMETER_BOOL>();
    } else if constexpr (std::is_integral_v<U>) {
      return get<PARAMETER_INTEGER>();
    } else if constexpr (std::is_floating_point_v<U>) {
      return get<PARAMETER_DOUBLE>();
    } else if constexpr (std::is_convertible_v<U, std::string>) {
      return get<PARAMETER_STRING>();
    } else if constexpr (std::is_same_v<U, std::vector<uint8_t>>) {
      return get<PARAMETER_BYTE_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<bool>>) {
      return get<PARAMETER_BOOL_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<int64_t>>) {
      return get<PARAMETER_INTEGER_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<double>>) {
      return get<PARAMETER_DOUBLE_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<std::string>>) {
      return get<PARAMETER_STRING_ARRAY>();
    } else if constexpr (std::is_same_v<U, std::vector<int>>) {
      const auto & src = get<PARAMETER_INTEGER_ARRAY>();
      return std::vector<int>(src.begin(), src.end());
    } else if constexpr (std::is_same_v<U, std::vector<float>>) {
      const auto & src = get<PARAMETER_DOUBLE_ARRAY>();
      return std::vector<float>(src.begin(), src.end());
    } else {
      static_assert(sizeof(U) == 0, "type not supported by ParameterValue::get");
    }
  }

private:
  void check(ParameterType expected) const
  {
    if (get_type() != expected) {
      throw ParameterTypeException(expected, get_type());
    }
  }

  rcl_interfaces::msg::ParameterValue value_;
};

/// Value as text: "true"/"false", decimal numbers, the string itself, arrays as "[a, b]".
std::string to_string(const ParameterValue & value);

std::ostream & operator<<(std::ostream & os, const ParameterValue & value);

}  // namespace rclcdds
