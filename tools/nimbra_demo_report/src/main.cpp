// demo_report: watches object_detect on the demo world and reports (see report_node.hpp).
//   demo_report --ros-args -p seed:=42 -p duration_s:=20.0 -p out_dir:=DIR
//     [-p node_log:=FILE -p node_pid:=PID -p check:=true -p "bounds:=[name=value]"]
#include <cstdio>
#include <exception>
#include <memory>

#include "rclcdds/context.hpp"
#include "rclcdds/executors.hpp"
#include "report_node.hpp"

int main(int argc, char ** argv)
{
  rclcdds::init(argc, argv);
  int status = 0;
  try {
    auto node = std::make_shared<nimbra_demo_report::ReportNode>();
    rclcdds::spin(node);
    status = node->exitStatus();
  } catch (const std::exception & error) {
    std::fprintf(stderr, "demo_report: %s\n", error.what());
    status = 2;
  }
  rclcdds::shutdown();
  return status;
}
