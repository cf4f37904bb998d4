// Transform errors, named and worded as tf2's.
#pragma once

#include <stdexcept>
#include <string>

namespace rclcdds
{
namespace tf2
{

/// Base of every transform error.
class TransformException : public std::runtime_error
{
public:
  explicit TransformException(const std::string & what) : std::runtime_error(what) {}
};

/// A frame is unknown, or the tree holds a loop.
class LookupException : public TransformException
{
public:
  explicit LookupException(const std::string & what) : TransformException(what) {}
};

/// The two frames are in different trees.
class ConnectivityException : public TransformException
{
public:
  explicit ConnectivityException(const std::string & what) : TransformException(what) {}
};

/// The requested time lies outside the buffered data of a link of the chain.
class ExtrapolationException : public TransformException
{
public:
  explicit ExtrapolationException(const std::string & what) : TransformException(what) {}
};

/// A frame id is empty or starts with '/'.
class InvalidArgumentException : public TransformException
{
public:
  explicit InvalidArgumentException(const std::string & what) : TransformException(what) {}
};

/// A wait for a transform ended without it.
class TimeoutException : public TransformException
{
public:
  explicit TimeoutException(const std::string & what) : TransformException(what) {}
};

}  // namespace tf2
}  // namespace rclcdds
