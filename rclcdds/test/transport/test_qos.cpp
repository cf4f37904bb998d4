// QoS defaults and named profiles match rclcpp's.
#include <gtest/gtest.h>

#include "rclcdds/qos.hpp"

using rclcdds::DurabilityPolicy;
using rclcdds::HistoryPolicy;
using rclcdds::ReliabilityPolicy;

TEST(QoS, ProfilesTable)
{
  struct Case
  {
    const char * name;
    rclcdds::QoS qos;
    HistoryPolicy history;
    size_t depth;
    ReliabilityPolicy reliability;
    DurabilityPolicy durability;
  };
  const Case cases[] = {
    {"QoS(10)", rclcdds::QoS(10), HistoryPolicy::KeepLast, 10, ReliabilityPolicy::Reliable,
      DurabilityPolicy::Volatile},
    {"SensorDataQoS", rclcdds::SensorDataQoS(), HistoryPolicy::KeepLast, 5,
      ReliabilityPolicy::BestEffort, DurabilityPolicy::Volatile},
    {"ParametersQoS", rclcdds::ParametersQoS(), HistoryPolicy::KeepLast, 1000,
      ReliabilityPolicy::Reliable, DurabilityPolicy::Volatile},
    {"ServicesQoS", rclcdds::ServicesQoS(), HistoryPolicy::KeepLast, 10,
      ReliabilityPolicy::Reliable, DurabilityPolicy::Volatile},
    {"ParameterEventsQoS", rclcdds::ParameterEventsQoS(), HistoryPolicy::KeepLast, 1000,
      ReliabilityPolicy::Reliable, DurabilityPolicy::Volatile},
    {"ClockQoS", rclcdds::ClockQoS(), HistoryPolicy::KeepLast, 1, ReliabilityPolicy::BestEffort,
      DurabilityPolicy::Volatile},
    {"SystemDefaultsQoS", rclcdds::SystemDefaultsQoS(), HistoryPolicy::SystemDefault, 1,
      ReliabilityPolicy::SystemDefault, DurabilityPolicy::SystemDefault},
    {"tf_static listener", rclcdds::QoS(100).transient_local(), HistoryPolicy::KeepLast, 100,
      ReliabilityPolicy::Reliable, DurabilityPolicy::TransientLocal},
    {"KeepAll", rclcdds::QoS(rclcdds::KeepAll()).best_effort(), HistoryPolicy::KeepAll, 0,
      ReliabilityPolicy::BestEffort, DurabilityPolicy::Volatile},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(c.qos.history(), c.history) << c.name;
    EXPECT_EQ(c.qos.depth(), c.depth) << c.name;
    EXPECT_EQ(c.qos.reliability(), c.reliability) << c.name;
    EXPECT_EQ(c.qos.durability(), c.durability) << c.name;
  }
}

TEST(QoS, SettersChainAndCompare)
{
  rclcdds::QoS qos(1);
  qos.keep_last(7).best_effort().transient_local();
  EXPECT_EQ(qos, rclcdds::QoS(rclcdds::KeepLast(7)).best_effort().transient_local());
  EXPECT_NE(qos, rclcdds::QoS(7));
  EXPECT_THROW(rclcdds::QoS(0), std::invalid_argument);
}
