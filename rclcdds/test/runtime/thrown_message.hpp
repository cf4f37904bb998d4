// Test helper: the text of an exception a call throws, for exact error-text checks.
#pragma once

#include <functional>
#include <string>

namespace rclcdds_test
{

/// The text of the Exception that `f` throws, or "no exception".
template<typename Exception>
std::string message_of(const std::function<void()> & f)
{
  try {
    f();
  } catch (const Exception & e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace rclcdds_test
