# Node runtime: Node and LifecycleNode, services and clients, timers, the multi-threaded
# executor, parameter services, node discovery, wait_for_message, the TF listener and
# broadcasters, and the rclcdds_cli command-line tool.

find_package(rcl_interfaces REQUIRED)
find_package(lifecycle_msgs REQUIRED)
find_package(rmw_dds_common REQUIRED)
find_package(rosgraph_msgs REQUIRED)
find_package(tf2_msgs REQUIRED)
find_package(geometry_msgs REQUIRED)
find_package(CycloneDDS REQUIRED)
find_package(spdlog REQUIRED)

target_sources(rclcdds PRIVATE
  src/node/client_base.cpp
  src/node/lifecycle_node.cpp
  src/node/logger.cpp
  src/node/multi_threaded_executor.cpp
  src/node/node.cpp
  src/node/node_announcer.cpp
  src/node/parameter_service.cpp
  src/node/service_base.cpp
  src/node/service_endpoints.cpp
  src/node/timer.cpp
  src/node/transform_listener.cpp
  src/node/wait_for_message.cpp)
ament_target_dependencies(rclcdds PUBLIC
  rcl_interfaces lifecycle_msgs rmw_dds_common rosgraph_msgs tf2_msgs geometry_msgs)
target_link_libraries(rclcdds PRIVATE CycloneDDS::ddsc spdlog::spdlog)
list(APPEND RCLCDDS_EXPORTED_DEPENDENCIES
  rcl_interfaces lifecycle_msgs rmw_dds_common rosgraph_msgs tf2_msgs geometry_msgs)

# Command-line tool (run-time typed messages through the installed introspection libraries).
find_package(yaml-cpp REQUIRED)
add_executable(rclcdds_cli
  src/tools/dynamic_message.cpp
  src/tools/graph_query.cpp
  src/tools/message_text.cpp
  src/tools/rclcdds_cli.cpp)
target_link_libraries(rclcdds_cli rclcdds CycloneDDS::ddsc yaml-cpp ${CMAKE_DL_LIBS})
install(TARGETS rclcdds_cli DESTINATION lib/${PROJECT_NAME})
install(TARGETS rclcdds_cli DESTINATION bin)
# rosbag2 bags: `rclcdds_cli bag record|play|info` and their storage library and tests.
include(cmake/bag.cmake)

# Benchmarks: built, never registered as tests.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  find_package(std_msgs REQUIRED)
  add_executable(node_executor_benchmark benchmark/node_executor_benchmark.cpp)
  target_link_libraries(node_executor_benchmark rclcdds benchmark::benchmark)
  ament_target_dependencies(node_executor_benchmark std_msgs)
endif()

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  find_package(std_msgs REQUIRED)

  add_executable(node_peer test/node/node_peer.cpp)
  target_link_libraries(node_peer rclcdds)
  ament_target_dependencies(node_peer std_msgs)

  # Every test here opens DDS participants: run inside scripts/netns.sh (scripts/test.sh does).
  ament_add_gtest(test_node_runtime test/node/test_node_communication.cpp TIMEOUT 300)
  target_link_libraries(test_node_runtime rclcdds)
  ament_target_dependencies(test_node_runtime std_msgs geometry_msgs)

  ament_add_gtest(test_node_processes test/node/test_node_processes.cpp TIMEOUT 300)
  target_link_libraries(test_node_processes rclcdds)
  ament_target_dependencies(test_node_processes std_msgs geometry_msgs)
  target_compile_definitions(test_node_processes PRIVATE
    NODE_PEER="$<TARGET_FILE:node_peer>"
    RCLCDDS_CLI="$<TARGET_FILE:rclcdds_cli>")
  add_dependencies(test_node_processes node_peer rclcdds_cli)

  ament_add_gtest(test_node_cli_text
    test/node/test_message_text.cpp
    src/tools/dynamic_message.cpp
    src/tools/message_text.cpp)
  target_link_libraries(test_node_cli_text rclcdds yaml-cpp ${CMAKE_DL_LIBS})
  target_include_directories(test_node_cli_text PRIVATE src/tools)
  ament_target_dependencies(test_node_cli_text std_msgs geometry_msgs)
endif()

include(cmake/hostile_peers.cmake)
