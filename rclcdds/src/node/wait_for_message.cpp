#include "rclcdds/wait_for_message.hpp"

#include <dds/dds.h>

namespace rclcdds
{
namespace detail
{

bool wait_for_read_condition(
  int32_t read_condition, Context & context, std::chrono::nanoseconds timeout)
{
  const dds_entity_t participant = context.participant();
  const dds_entity_t waitset = dds_create_waitset(participant);
  if (waitset < 0) {
    return false;
  }
  const dds_entity_t shutdown_guard = dds_create_guardcondition(participant);
  dds_waitset_attach(waitset, read_condition, read_condition);
  if (shutdown_guard > 0) {
    dds_waitset_attach(waitset, shutdown_guard, shutdown_guard);
    context.add_interrupt_guard(shutdown_guard);
  }
  bool triggered = false;
  if (context.is_valid()) {
    dds_attach_t fired[2];
    const dds_duration_t reltimeout =
      timeout < std::chrono::nanoseconds(0) ? DDS_INFINITY : timeout.count();
    const dds_return_t n = dds_waitset_wait(waitset, fired, 2, reltimeout);
    for (dds_return_t i = 0; i < n && i < 2; ++i) {
      if (static_cast<dds_entity_t>(fired[i]) == read_condition) {
        triggered = true;
      }
    }
  }
  if (shutdown_guard > 0) {
    context.remove_interrupt_guard(shutdown_guard);
    dds_delete(shutdown_guard);
  }
  dds_delete(waitset);
  return triggered;
}

}  // namespace detail
}  // namespace rclcdds
