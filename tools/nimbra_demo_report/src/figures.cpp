#include "figures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <regex>

namespace nimbra_demo_report
{

double quantile(std::vector<double> values, double q)
{
  if (values.empty()) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  std::sort(values.begin(), values.end());
  const double at = std::clamp(q, 0.0, 1.0) * static_cast<double>(values.size() - 1);
  const size_t low = static_cast<size_t>(std::floor(at));
  const size_t high = std::min(low + 1, values.size() - 1);
  return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

std::map<int, CameraLog> parseNodeLog(std::istream & log)
{
  static const std::regex runtime(R"(cam_(\d+) :(\S+) runtime = (\d+)\(us\))");
  static const std::regex stale(R"(long time without update data of cam_(\d+))");
  static const std::regex malformed(R"(cam_(\d+) drops a depth image)");
  std::map<int, CameraLog> cameras;
  std::string line;
  std::smatch m;
  while (std::getline(log, line)) {
    if (line.size() > 4096) {
      continue;
    }
    try {
      if (std::regex_search(line, m, runtime)) {
        cameras[std::stoi(m[1])].stage_us[m[2]].push_back(std::stod(m[3]));
      } else if (std::regex_search(line, m, stale)) {
        ++cameras[std::stoi(m[1])].stale_frames;
      } else if (std::regex_search(line, m, malformed)) {
        ++cameras[std::stoi(m[1])].malformed_frames;
      }
    } catch (const std::exception &) {
      // out-of-range number: not a line of ours
    }
  }
  return cameras;
}

Figure makeFigure(const std::string & name, const std::string & text, double goal, bool at_least,
  const std::string & unit)
{
  Figure f;
  f.name = name;
  f.text = text;
  f.goal = goal;
  f.at_least = at_least;
  f.bound = goal;
  f.unit = unit;
  return f;
}

std::vector<std::string> relaxBounds(std::vector<Figure> & figures,
  const std::vector<std::string> & overrides)
{
  std::vector<std::string> rejected;
  for (const std::string & entry : overrides) {
    if (entry.empty()) {
      continue;
    }
    const size_t eq = entry.find('=');
    bool applied = false;
    if (eq != std::string::npos) {
      char * end = nullptr;
      const std::string number = entry.substr(eq + 1);
      const double value = std::strtod(number.c_str(), &end);
      if (!number.empty() && end != nullptr && *end == '\0' && std::isfinite(value)) {
        for (Figure & f : figures) {
          if (f.name == entry.substr(0, eq)) {
            f.bound = value;
            applied = true;
          }
        }
      }
    }
    if (!applied) {
      rejected.push_back(entry);
    }
  }
  return rejected;
}

std::string figureLine(const Figure & f)
{
  char buffer[512];
  const char * cmp = f.at_least ? ">=" : "<=";
  if (!f.measured) {
    std::snprintf(buffer, sizeof(buffer), "%-22s %-58s %10s  goal %s %g%s  NOT MEASURED (no data)",
      f.name.c_str(), f.text.c_str(), "-", cmp, f.goal, f.unit.c_str());
    return buffer;
  }
  const bool relaxed = f.bound != f.goal;
  std::string verdict = f.meetsGoal() ? "meets goal" : "MISSES GOAL";
  if (relaxed) {
    char bound[64];
    std::snprintf(bound, sizeof(bound), ", asserted %s %g%s (measured bound)", cmp, f.bound,
      f.unit.c_str());
    verdict += bound;
  }
  std::snprintf(buffer, sizeof(buffer), "%-22s %-58s %9.3f%s  goal %s %g%s  %s",
    f.name.c_str(), f.text.c_str(), f.value, f.unit.c_str(), cmp, f.goal, f.unit.c_str(),
    verdict.c_str());
  return buffer;
}

}  // namespace nimbra_demo_report
