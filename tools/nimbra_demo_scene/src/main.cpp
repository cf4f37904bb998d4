// demo_scene: publishes a synthetic two-camera robot in a hospital corridor.
//   demo_scene [--ros-args -p rate:=10.0 -p width:=640 -p height:=480 -p duration_s:=0.0 ...]
#include <cstdio>
#include <exception>
#include <memory>

#include "demo_scene_node.hpp"
#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"

int main(int argc, char ** argv)
{
  rclcdds::init(argc, argv);
  int status = 0;
  try {
    auto node = std::make_shared<nimbra_demo_scene::DemoSceneNode>();
    rclcdds::spin(node);
  } catch (const std::exception & error) {
    std::fprintf(stderr, "demo_scene: %s\n", error.what());
    status = 1;
  }
  rclcdds::shutdown();
  return status;
}
