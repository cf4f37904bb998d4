#include "message_definition.hpp"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace rclcdds_bag
{

namespace
{

const std::set<std::string> & primitive_types()
{
  static const std::set<std::string> types = {
    "bool", "byte", "char", "float32", "float64", "int8", "uint8", "int16", "uint16", "int32",
    "uint32", "int64", "uint64", "string", "wstring"};
  return types;
}

/// "pkg/msg/Type" or "pkg/Type" -> (pkg, Type); false otherwise.
bool split(const std::string & name, std::string & package, std::string & type)
{
  std::vector<std::string> parts;
  std::stringstream stream(name);
  std::string part;
  while (std::getline(stream, part, '/')) {
    parts.push_back(part);
  }
  if (parts.size() == 3 && parts[1] == "msg") {
    package = parts[0];
    type = parts[2];
  } else if (parts.size() == 2) {
    package = parts[0];
    type = parts[1];
  } else {
    return false;
  }
  return !package.empty() && !type.empty();
}

/// Types ("pkg/Type") the fields of a .msg text use.
std::vector<std::string> field_types(const std::string & text, const std::string & package)
{
  std::vector<std::string> types;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) {
      line.erase(hash);
    }
    std::stringstream words(line);
    std::string type;
    std::string name;
    if (!(words >> type >> name) || name.find('=') != std::string::npos) {
      continue;  // blank, comment or constant
    }
    const size_t bracket = type.find('[');
    if (bracket != std::string::npos) {
      type.erase(bracket);
    }
    const size_t bound = type.find("<=");
    if (bound != std::string::npos) {
      type.erase(bound);
    }
    if (primitive_types().count(type) != 0) {
      continue;
    }
    if (type == "Header") {
      types.push_back("std_msgs/Header");
    } else if (type.find('/') == std::string::npos) {
      types.push_back(package + "/" + type);
    } else {
      types.push_back(type);
    }
  }
  return types;
}

}  // namespace

std::string find_msg_file(const std::string & package, const std::string & type)
{
  const char * prefixes = std::getenv("AMENT_PREFIX_PATH");
  std::stringstream stream(prefixes != nullptr ? prefixes : "");
  std::string prefix;
  while (std::getline(stream, prefix, ':')) {
    if (prefix.empty()) {
      continue;
    }
    std::ifstream file(prefix + "/share/" + package + "/msg/" + type + ".msg");
    if (file) {
      std::stringstream text;
      text << file.rdbuf();
      return text.str();
    }
  }
  return "";
}

std::string message_definition(const std::string & type_name, const MsgFileLookup & lookup)
{
  std::string package;
  std::string type;
  if (!split(type_name, package, type)) {
    return "";
  }
  std::string text = lookup(package, type);
  if (text.empty()) {
    return "";
  }
  std::set<std::string> done = {package + "/" + type};
  std::vector<std::string> queue = field_types(text, package);
  std::string result = text;
  while (!queue.empty()) {
    const std::string next = queue.front();
    queue.erase(queue.begin());
    if (!done.insert(next).second) {
      continue;
    }
    std::string dep_package;
    std::string dep_type;
    if (!split(next, dep_package, dep_type)) {
      continue;
    }
    const std::string dep_text = lookup(dep_package, dep_type);
    if (!result.empty() && result.back() != '\n') {
      result += '\n';
    }
    result += std::string(80, '=') + "\nMSG: " + next + "\n" + dep_text;
    const auto more = field_types(dep_text, dep_package);
    queue.insert(queue.end(), more.begin(), more.end());
  }
  return result;
}

}  // namespace rclcdds_bag
