// Figures of a demo run: order statistics, the node's stage-runtime log lines, and goals.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace nimbra_demo_report
{

/// Value at quantile q (0..1) of `values` by linear interpolation; NaN when empty.
double quantile(std::vector<double> values, double q);

/// What the node's debug log says about one camera.
struct CameraLog
{
  std::map<std::string, std::vector<double>> stage_us;  ///< "<trad_method>" -> runtimes, us
  uint64_t stale_frames{0};      ///< depth frames dropped as stale (stamp too old)
  uint64_t malformed_frames{0};  ///< depth frames dropped as unusable
};

/// Parses object_detect's log: lines "cam_<n> :<stage> runtime = <us>(us)" and its drop
/// warnings. Lines that do not match are skipped; numbers that do not parse are skipped.
std::map<int, CameraLog> parseNodeLog(std::istream & log);

/// One accuracy figure held to a goal.
struct Figure
{
  std::string name;       ///< identifier, also used to relax its asserted bound
  std::string text;       ///< what it measures
  double value{0.0};      ///< measured value
  bool measured{false};   ///< false: no data in this run (nothing to compare)
  double goal{0.0};       ///< goal
  bool at_least{true};    ///< true: value >= goal is good; false: value <= goal
  double bound{0.0};      ///< asserted bound (the goal unless relaxed to a measured one)
  std::string unit;       ///< "%", "m", "" ...

  bool meetsGoal() const {return measured && (at_least ? value >= goal : value <= goal);}
  bool meetsBound() const {return measured && (at_least ? value >= bound : value <= bound);}
};

/// Makes a figure whose bound is its goal.
Figure makeFigure(const std::string & name, const std::string & text, double goal, bool at_least,
  const std::string & unit);
/// Applies "name=value" overrides of asserted bounds; returns the entries that named no figure
/// or did not parse.
std::vector<std::string> relaxBounds(std::vector<Figure> & figures,
  const std::vector<std::string> & overrides);
/// One line: name, value, goal, asserted bound and the verdict.
std::string figureLine(const Figure & figure);

}  // namespace nimbra_demo_report
