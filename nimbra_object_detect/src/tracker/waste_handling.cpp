#include "tracker/waste_handling.hpp"

#include <map>

namespace orvix
{
namespace perception
{

int32_t VoteType(const std::deque<int32_t> & history, int32_t current)
{
  std::map<int32_t, int32_t> counts;
  for (const int32_t type : history) {
    ++counts[type];
  }
  int32_t best_count = 0;
  int32_t winner = current;
  for (const auto & [type, count] : counts) {  // ascending type value
    if (count > best_count) {
      best_count = count;
      winner = type;
    }
  }
  return winner;
}

int32_t ChooseHandleCode(
  int32_t type, const std::vector<float> & size, const TrashTrackerConfig & config)
{
  if (config.base_handle_class.count(type) > 0) {
    return kHandleByBase;
  }
  if (config.arm_handle_class.count(type) > 0) {
    return kHandleByArm;
  }
  if (config.uncertain_class.count(type) == 0) {
    return kHandleUnlisted;
  }
  if (size.size() < 3) {
    return kHandleUncertain;
  }
  const float length = size[0];
  const float width = size[1];
  const float height = size[2];
  // Written so that NaN sizes fail every comparison and land on the uncertain code.
  const bool known = length > 0.0F && width > 0.0F && height > 0.0F;
  const bool fits_base = height <= config.base_handle_waste_height_metric &&
    length <= config.base_handle_waste_length_metric &&
    width <= config.base_handle_waste_length_metric;
  return known && fits_base ? kHandleByBase : kHandleUncertain;
}

}  // namespace perception
}  // namespace orvix
