#include "rclcdds/qos.hpp"

#include <stdexcept>

namespace rclcdds
{

QoS::QoS(size_t depth) : QoS(KeepLast(depth)) {}

QoS::QoS(const KeepLast & keep_last)
{
  this->keep_last(keep_last.depth);
}

QoS::QoS(const KeepAll &)
{
  keep_all();
}

QoS & QoS::history(HistoryPolicy policy)
{
  history_ = policy;
  return *this;
}

QoS & QoS::keep_last(size_t depth)
{
  if (depth == 0) {
    throw std::invalid_argument("keep-last QoS needs a depth of at least 1");
  }
  history_ = HistoryPolicy::KeepLast;
  depth_ = depth;
  return *this;
}

QoS & QoS::keep_all()
{
  history_ = HistoryPolicy::KeepAll;
  depth_ = 0;
  return *this;
}

QoS & QoS::reliability(ReliabilityPolicy policy)
{
  reliability_ = policy;
  return *this;
}

QoS & QoS::durability(DurabilityPolicy policy)
{
  durability_ = policy;
  return *this;
}

bool QoS::operator==(const QoS & other) const
{
  return history_ == other.history_ && depth_ == other.depth_ &&
         reliability_ == other.reliability_ && durability_ == other.durability_;
}

SystemDefaultsQoS::SystemDefaultsQoS() : QoS(KeepLast(1))
{
  history(HistoryPolicy::SystemDefault);
  reliability(ReliabilityPolicy::SystemDefault);
  durability(DurabilityPolicy::SystemDefault);
}

SensorDataQoS::SensorDataQoS(const KeepLast & keep_last) : QoS(keep_last)
{
  best_effort();
}

ParametersQoS::ParametersQoS(const KeepLast & keep_last) : QoS(keep_last) {}

ServicesQoS::ServicesQoS(const KeepLast & keep_last) : QoS(keep_last) {}

ParameterEventsQoS::ParameterEventsQoS(const KeepLast & keep_last) : QoS(keep_last) {}

ClockQoS::ClockQoS(const KeepLast & keep_last) : QoS(keep_last)
{
  best_effort();
}

}  // namespace rclcdds
