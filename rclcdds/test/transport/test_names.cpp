// Topic name expansion and name validation follow rcl's rules.
#include <gtest/gtest.h>

#include "rclcdds/names.hpp"

TEST(Names, TopicExpansionTable)
{
  struct Case
  {
    const char * topic;
    const char * node;
    const char * ns;
    const char * expected;
  };
  const Case cases[] = {
    {"/abs", "node", "/ns", "/abs"},
    {"image", "node", "", "/image"},
    {"image", "node", "/", "/image"},
    {"image", "node", "/robot", "/robot/image"},
    {"cam1_base_cloud", "object_detect", "/perception", "/perception/cam1_base_cloud"},
    {"camera/depth", "node", "robot", "/robot/camera/depth"},
    {"~", "node", "/ns", "/ns/node"},
    {"~/change_state", "object_detect", "/", "/object_detect/change_state"},
    {"~/get_state", "node", "/a/b", "/a/b/node/get_state"},
    {"{node}/status", "node", "/ns", "/ns/node/status"},
    {"/{ns}/x", "node", "/robot", "/robot/x"},
  };
  for (const Case & c : cases) {
    EXPECT_EQ(rclcdds::expand_topic_name(c.topic, c.node, c.ns), c.expected) << c.topic;
  }
}

TEST(Names, InvalidTopicNamesThrow)
{
  const char * invalid[] = {"", "a//b", "trailing/", "1starts_with_digit", "a/2b", "sp ace", "~x",
    "bad-dash", "/"};
  for (const char * name : invalid) {
    EXPECT_THROW(
      rclcdds::expand_topic_name(name, "node", "/"), rclcdds::exceptions::InvalidTopicNameError)
      << name;
  }
}

TEST(Names, NodeNamesAndNamespaces)
{
  EXPECT_NO_THROW(rclcdds::validate_node_name("object_detect"));
  EXPECT_THROW(rclcdds::validate_node_name(""), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcdds::validate_node_name("2d"), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_THROW(rclcdds::validate_node_name("a/b"), rclcdds::exceptions::InvalidNodeNameError);
  EXPECT_EQ(rclcdds::normalize_namespace(""), "/");
  EXPECT_EQ(rclcdds::normalize_namespace("robot"), "/robot");
  EXPECT_THROW(rclcdds::normalize_namespace("/robot/"), rclcdds::exceptions::InvalidNamespaceError);
  EXPECT_EQ(rclcdds::fully_qualified_node_name("n", "/"), "/n");
  EXPECT_EQ(rclcdds::fully_qualified_node_name("n", "/a/b"), "/a/b/n");
}

TEST(Names, DdsTopicNamesCarryTheRtPrefix)
{
  EXPECT_EQ(rclcdds::dds_topic_name("/cam1_base_cloud"), "rt/cam1_base_cloud");
  EXPECT_EQ(rclcdds::dds_topic_name("/a/b"), "rt/a/b");
}
