// Frame numbers carried in image stamps: demo_scene stamps frame k with the wall time rounded
// down to the millisecond plus (k mod 1000) microseconds, so a tool that sees a stamp (even one
// that went through a double of seconds) can find the frame, and with it the scene time and
// the ground truth, without any side channel.
#pragma once

#include <cmath>
#include <cstdint>

namespace nimbra_demo_scene
{

/// Frames one stamp period distinguishes before the number wraps.
constexpr uint64_t kStampFramePeriod = 1000;

/// Microseconds since the epoch of a stamp given as seconds and nanoseconds, rounded.
inline int64_t stampMicroseconds(int64_t sec, uint32_t nanosec)
{
  return sec * 1000000 + static_cast<int64_t>(std::llround(nanosec / 1000.0));
}

/// Stamp (seconds, nanoseconds) of frame `frame` published at wall time sec/nanosec.
inline void frameStamp(int64_t sec, uint32_t nanosec, uint64_t frame, int64_t & out_sec,
  uint32_t & out_nanosec)
{
  const int64_t ms = (sec * 1000000 + nanosec / 1000) / 1000;
  const int64_t us = ms * 1000 + static_cast<int64_t>(frame % kStampFramePeriod);
  out_sec = us / 1000000;
  out_nanosec = static_cast<uint32_t>((us % 1000000) * 1000);
}

/// Frame number of a stamp, given a guess `near` of it (for example the last frame seen plus
/// the elapsed time times the rate): the number congruent to the stamp's microseconds modulo
/// kStampFramePeriod closest to `near`; never negative.
inline uint64_t frameFromStamp(double stamp_s, double near)
{
  const int64_t us = static_cast<int64_t>(std::llround(stamp_s * 1e6));
  const int64_t residue = ((us % 1000) + 1000) % 1000;
  const int64_t period = static_cast<int64_t>(kStampFramePeriod);
  int64_t base = static_cast<int64_t>(std::floor(near / period)) * period + residue;
  int64_t best = base;
  for (const int64_t candidate : {base - period, base + period}) {
    if (std::fabs(static_cast<double>(candidate) - near) <
      std::fabs(static_cast<double>(best) - near))
    {
      best = candidate;
    }
  }
  return best < 0 ? static_cast<uint64_t>(residue) : static_cast<uint64_t>(best);
}

}  // namespace nimbra_demo_scene
