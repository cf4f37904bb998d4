// Intake rules without a node: nearest-stamp slot, the task-state switch, unreadable images.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "camera/frame_pairing.hpp"

namespace nimbra::test
{
namespace
{

TEST(FramePairing, NearestStampSlot)
{
  // Each row: the ring's stamps in whole seconds (0 = never written), the depth stamp, the slot.
  const std::vector<std::tuple<std::vector<int32_t>, double, int>> cases = {
    {{}, 100.0, -1},                    // empty ring
    {{0, 0, 0}, 100.0, -1},             // only never-written slots
    {{0, 97, 0}, 100.0, 1},
    {{99, 101}, 100.0, 0},              // tie: the lower slot
    {{101, 99}, 100.0, 0},
    {{95, 102, 99, 100, 100}, 100.0, 3},  // exact stamp, first of two
    {{0, 40}, 30.0, 1},                 // 10 s away is still nearer than the empty slot's 30 s
    {{0, 70}, 30.0, -1},                // 40 s away loses to nothing: no slot
  };
  for (const auto & [seconds, depth, slot] : cases) {
    std::vector<sensor_msgs::msg::Image> ring(seconds.size());
    for (std::size_t i = 0; i < seconds.size(); ++i) {
      ring[i].header.stamp.sec = seconds[i];
    }
    EXPECT_EQ(nearestStampSlot(ring, depth), slot) << ring.size() << " slots, depth " << depth;
  }
}

TEST(FramePairing, TaskStateClosesAiInState8UnlessSubState400)
{
  EXPECT_TRUE(taskStateClosesAi(8, 0) && taskStateClosesAi(8, 401));
  EXPECT_FALSE(taskStateClosesAi(8, 400) || taskStateClosesAi(7, 0));
}

TEST(FramePairing, UnreadableImagesAreRefusedWithAReason)
{
  struct Case
  {
    const char * what;
    std::string encoding;
    uint32_t width;
    uint32_t height;
    uint32_t step;
    std::size_t data;
    const char * colour;  // what the colour refusal names; "" = usable
    const char * depth;   // likewise for depth
  };
  const std::vector<Case> cases = {
    {"rgb8", "rgb8", 4, 2, 12, 24, "", "encoding \"rgb8\""},
    {"bgra8 with padded rows", "bgra8", 4, 2, 20, 40, "", "bgra8"},
    {"mono8", "mono8", 4, 2, 4, 8, "", ""},
    {"16UC1", "16UC1", 4, 2, 8, 16, "encoding [16UC1]", ""},
    {"colour data one byte short", "rgb8", 4, 2, 12, 23, "data holds 23 bytes", "rgb8"},
    {"depth data one byte short", "16UC1", 4, 2, 8, 15, "16UC1", "data holds 15 bytes"},
    {"colour step below width x 3", "rgb8", 4, 2, 11, 24, "step 11", "rgb8"},
    {"depth step below width x 2", "16UC1", 4, 2, 7, 16, "16UC1", "step 7"},
    {"zero width", "mono8", 0, 2, 0, 0, "empty image (0x2)", "empty image (0x2)"},
    {"unknown encoding", "yuv422_fancy", 4, 2, 8, 16, "yuv422_fancy", "yuv422_fancy"},
    {"height x step beyond 32 bits", "16UC1", 2, 0x80000000U, 0x80000000U, 64, "16UC1",
      "out of range"},
  };
  for (const Case & c : cases) {
    sensor_msgs::msg::Image image;
    image.encoding = c.encoding;
    image.width = c.width;
    image.height = c.height;
    image.step = c.step;
    image.data.assign(c.data, 0);
    for (const bool colour : {true, false}) {
      const std::string names = colour ? c.colour : c.depth;
      std::string reason;
      const bool usable =
        colour ? colourImageUsable(image, reason) : depthImageUsable(image, reason);
      EXPECT_EQ(usable, names.empty()) << c.what << (colour ? " as colour" : " as depth");
      EXPECT_TRUE(names.empty() ? reason.empty() : reason.find(names) != std::string::npos)
        << c.what << (colour ? " as colour: " : " as depth: ") << reason;
    }
  }
}

}  // namespace
}  // namespace nimbra::test
