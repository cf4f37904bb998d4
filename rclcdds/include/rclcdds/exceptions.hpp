// Exceptions of the client library, named and worded as rclcpp's.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace rclcdds
{
namespace exceptions
{

/// A parameter name is empty or otherwise unusable.
class InvalidParametersException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter value was refused (by a range, a read-only flag or an on-set callback).
class InvalidParameterValueException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter was read or set with a type other than its own.
class InvalidParameterTypeException : public std::runtime_error
{
public:
  /// Message: "parameter '<name>' has invalid type: <message>".
  InvalidParameterTypeException(const std::string & name, const std::string & message)
  : std::runtime_error("parameter '" + name + "' has invalid type: " + message) {}
};

/// The parameter has not been declared and undeclared parameters are not allowed.
class ParameterNotDeclaredException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// declare_parameter was called twice for one name.
class ParameterAlreadyDeclaredException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A read-only parameter was asked to change or to be undeclared.
class ParameterImmutableException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter was declared, set or undeclared from inside an on-set callback.
class ParameterModifiedInCallbackException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// declare_parameter<T>(name) found no override to initialise the typed parameter with.
class UninitializedStaticallyTypedParameterException : public std::runtime_error
{
public:
  explicit UninitializedStaticallyTypedParameterException(const std::string & name)
  : std::runtime_error("Statically typed parameter '" + name + "' must be initialized.") {}
};

/// A statically typed parameter was read before it received a value.
class ParameterUninitializedException : public std::runtime_error
{
public:
  explicit ParameterUninitializedException(const std::string & name)
  : std::runtime_error("parameter '" + name + "' is not initialized") {}
};

/// The command line holds ROS arguments this library does not know.
class UnknownROSArgsError : public std::runtime_error
{
public:
  explicit UnknownROSArgsError(std::vector<std::string> unknown_ros_args);

  /// The unknown arguments, in command-line order.
  const std::vector<std::string> unknown_ros_args;
};

/// A known ROS argument is malformed (missing value, bad rule, bad log level, ...).
class InvalidROSArgsError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter file cannot be read or is malformed; the message names file, line and key.
class ParameterFileError : public std::runtime_error
{
public:
  /// @param file path as given; @param line 1-based line, 0 when unknown; @param key dotted key or node name
  ParameterFileError(
    const std::string & file, int line, const std::string & key, const std::string & reason);

  const std::string file;  ///< path of the file
  const int line;          ///< 1-based line of the offending entry, 0 when unknown
  const std::string key;   ///< offending key (parameter or node name), may be empty
};

}  // namespace exceptions
}  // namespace rclcdds
