// YAML text of run-time typed messages: printing (as `ros2 topic echo`) and parsing (as
// `ros2 topic pub`).
#pragma once

#include <cstddef>
#include <string>

#include "rclcdds/serialization.hpp"

namespace rclcdds_cli
{

/// Options of message printing.
struct PrintOptions
{
  size_t max_array_length{128};  ///< longer sequences are cut with "- '...'" (0: never)
};

/// Block-style YAML of `message` (every field, nested messages indented by two spaces).
std::string message_to_yaml(
  const rclcdds::MessageMembers & members, const void * message, const PrintOptions & options);

/// `text` unchanged, or YAML double-quoted with escapes when it holds control characters or
/// bytes that are not UTF-8, so that text from a peer stays on one line and cannot drive the
/// terminal.
std::string escaped_text(const std::string & text);

/// `text` as a quoted YAML scalar: single-quoted, or double-quoted with escapes as above.
std::string quoted_text(const std::string & text);

/// Fills `message` from YAML text such as "{data: hello}" or "{linear: {x: 0.5}}"; fields that
/// are not mentioned keep their value. False with the reason in `error` on unknown fields,
/// values of the wrong type, out-of-range numbers or too long fixed arrays.
bool message_from_yaml(
  const rclcdds::MessageMembers & members, const std::string & text, void * message,
  std::string & error);

}  // namespace rclcdds_cli
