# Runtime (DDS-free parts): command-line arguments, parameters and parameter files, the lifecycle
# state machine, time sources and rates, the transform buffer, image and point-cloud conversions.

find_package(rcl_interfaces REQUIRED)
find_package(lifecycle_msgs REQUIRED)
find_package(rosgraph_msgs REQUIRED)
find_package(std_msgs REQUIRED)
find_package(geometry_msgs REQUIRED)
find_package(sensor_msgs REQUIRED)
find_package(spdlog REQUIRED)
find_package(yaml-cpp REQUIRED)
find_package(Eigen3 REQUIRED)
find_package(OpenCV REQUIRED COMPONENTS core imgproc)

target_sources(rclcdds PRIVATE
  src/runtime/arguments.cpp
  src/runtime/exceptions.cpp
  src/runtime/lifecycle_node_interface.cpp
  src/runtime/node_options.cpp
  src/runtime/node_parameters.cpp
  src/runtime/parameter.cpp
  src/runtime/parameter_map.cpp
  src/runtime/parameter_requests.cpp
  src/runtime/parameter_value.cpp
  src/runtime/runtime_log.cpp
  src/runtime/state_machine.cpp
  src/runtime/time_source.cpp
  src/runtime/conversions/cv_bridge.cpp
  src/runtime/conversions/image_encodings.cpp
  src/runtime/conversions/point_cloud2.cpp
  src/runtime/tf2/buffer.cpp
  src/runtime/tf2/buffer_core.cpp
  src/runtime/tf2/eigen.cpp
  src/runtime/tf2/frame_cache.cpp)
ament_target_dependencies(rclcdds PUBLIC
  rcl_interfaces lifecycle_msgs rosgraph_msgs std_msgs geometry_msgs sensor_msgs)
target_include_directories(rclcdds SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
target_link_libraries(rclcdds
  PUBLIC Eigen3::Eigen opencv_core opencv_imgproc
  PRIVATE yaml-cpp spdlog::spdlog)
list(APPEND RCLCDDS_EXPORTED_DEPENDENCIES
  rcl_interfaces lifecycle_msgs rosgraph_msgs std_msgs geometry_msgs sensor_msgs Eigen3 OpenCV)

# Benchmarks: built, never registered as tests (run by hand, print figures).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(runtime_tf2_benchmark benchmark/runtime_tf2_benchmark.cpp)
  target_link_libraries(runtime_tf2_benchmark rclcdds benchmark::benchmark)
  add_executable(runtime_image_benchmark benchmark/runtime_image_benchmark.cpp)
  target_link_libraries(runtime_image_benchmark rclcdds benchmark::benchmark)
endif()

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  find_package(PCL REQUIRED COMPONENTS common)

  ament_add_gtest(test_runtime_parameters test/runtime/test_parameters.cpp)
  target_link_libraries(test_runtime_parameters rclcdds)
  target_compile_definitions(test_runtime_parameters PRIVATE
    RUNTIME_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/test/runtime/data")

  ament_add_gtest(test_runtime_lifecycle test/runtime/test_state_machine.cpp)
  target_link_libraries(test_runtime_lifecycle rclcdds)

  ament_add_gtest(test_runtime_time test/runtime/test_clock.cpp)
  target_link_libraries(test_runtime_time rclcdds)

  ament_add_gtest(test_runtime_tf2 test/runtime/test_buffer_core.cpp)
  target_link_libraries(test_runtime_tf2 rclcdds)

  ament_add_gtest(test_runtime_conversions test/runtime/test_conversions.cpp)
  target_link_libraries(test_runtime_conversions rclcdds pcl_common)
  target_include_directories(test_runtime_conversions SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
endif()
