// The participant stays on loopback unless the environment opts in explicitly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "rclcdds/network_config.hpp"

namespace
{

/// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv
{
public:
  ScopedEnv(const char * name, const char * value) : name_(name)
  {
    if (const char * old = std::getenv(name)) {
      old_ = old;
    }
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() {old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);}

private:
  const char * name_;
  std::optional<std::string> old_;
};

}  // namespace

TEST(NetworkConfig, DefaultIsLoopbackUnicastOnly)
{
  ScopedEnv mode("RCLCDDS_NETWORK", nullptr);
  ScopedEnv domain("ROS_DOMAIN_ID", nullptr);
  ScopedEnv uri("CYCLONEDDS_URI", "<CycloneDDS><Domain><General><Interfaces>"
    "<NetworkInterface name=\"eth0\"/></Interfaces></General></Domain></CycloneDDS>");
  const auto config = rclcdds::NetworkConfig::from_environment();
  EXPECT_EQ(config.mode, rclcdds::NetworkMode::Localhost);
  EXPECT_EQ(config.domain_id, 0u);
  const std::string & xml = config.cyclone_xml;
  EXPECT_NE(xml.find("<NetworkInterface address=\"127.0.0.1\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<AllowMulticast>false</AllowMulticast>"), std::string::npos);
  EXPECT_NE(xml.find("<ParticipantIndex>auto</ParticipantIndex>"), std::string::npos);
  EXPECT_NE(xml.find("<MaxAutoParticipantIndex>60</MaxAutoParticipantIndex>"), std::string::npos);
  EXPECT_NE(xml.find("<Peer Address=\"127.0.0.1\"/>"), std::string::npos);
  EXPECT_EQ(xml.find("eth0"), std::string::npos);
}

TEST(NetworkConfig, ModesAndDomainFromEnvironment)
{
  {
    ScopedEnv mode("RCLCDDS_NETWORK", "localhost-multicast");
    ScopedEnv domain("ROS_DOMAIN_ID", "42");
    const auto config = rclcdds::NetworkConfig::from_environment();
    EXPECT_EQ(config.mode, rclcdds::NetworkMode::LocalhostMulticast);
    EXPECT_EQ(config.domain_id, 42u);
    EXPECT_NE(
      config.cyclone_xml.find("<NetworkInterface address=\"127.0.0.1\" multicast=\"true\"/>"),
      std::string::npos);
    EXPECT_NE(config.cyclone_xml.find("<AllowMulticast>true</AllowMulticast>"), std::string::npos);
  }
  {
    ScopedEnv mode("RCLCDDS_NETWORK", "cyclonedds-uri");
    ScopedEnv uri("CYCLONEDDS_URI", "file:///etc/robot/cyclonedds.xml");
    const auto config = rclcdds::NetworkConfig::from_environment();
    EXPECT_EQ(config.mode, rclcdds::NetworkMode::CycloneUri);
    EXPECT_TRUE(config.cyclone_xml.empty());
  }
}

TEST(NetworkConfig, BadValuesNameTheVariable)
{
  struct Case
  {
    const char * variable;
    const char * value;
  };
  const Case cases[] = {
    {"ROS_DOMAIN_ID", "abc"}, {"ROS_DOMAIN_ID", "-1"}, {"ROS_DOMAIN_ID", "233"},
    {"ROS_DOMAIN_ID", "7x"}, {"RCLCDDS_NETWORK", "everywhere"},
  };
  for (const Case & c : cases) {
    ScopedEnv mode("RCLCDDS_NETWORK", nullptr);
    ScopedEnv domain("ROS_DOMAIN_ID", nullptr);
    ScopedEnv bad(c.variable, c.value);
    try {
      rclcdds::NetworkConfig::from_environment();
      ADD_FAILURE() << c.variable << "=" << c.value << " accepted";
    } catch (const std::invalid_argument & e) {
      EXPECT_NE(std::string(e.what()).find(c.variable), std::string::npos) << e.what();
    }
  }
  ScopedEnv mode("RCLCDDS_NETWORK", "cyclonedds-uri");
  ScopedEnv uri("CYCLONEDDS_URI", nullptr);
  EXPECT_THROW(rclcdds::NetworkConfig::from_environment(), std::invalid_argument);
}
