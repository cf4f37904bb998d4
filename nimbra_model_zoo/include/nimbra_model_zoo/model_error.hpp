#pragma once

#include <stdexcept>
#include <string>

namespace orvix::model {

/// Raised when a model cannot be built: bad description keys, unreadable model file, wrong outputs.
class ModelError : public std::runtime_error {
 public:
  explicit ModelError(std::string const& what) : std::runtime_error(what) {}
};

}  // namespace orvix::model
