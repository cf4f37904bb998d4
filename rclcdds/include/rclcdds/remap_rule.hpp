// One `-r`/`--remap` rule of the command line.
#pragma once

#include <string>

namespace rclcdds
{

/// A name remapping rule, as rcl parses `[node:]match:=replacement`.
struct RemapRule
{
  /// What the rule renames.
  enum class Kind
  {
    kNodeName,       ///< `__node:=` / `__name:=`
    kNamespace,      ///< `__ns:=`
    kTopicOrService, ///< `match:=replacement` without a prefix
    kTopic,          ///< `rostopic://match:=replacement`
    kService,        ///< `rosservice://match:=replacement`
  };

  Kind kind{Kind::kTopicOrService};
  std::string node_name;    ///< when set, the rule applies only to nodes originally named so
  std::string match;        ///< name to match as written (topic rules only)
  std::string replacement;  ///< new name, node name or namespace as written
};

}  // namespace rclcdds
