# Node area: the lifecycle node Base, the log routing, and the executable object_detect.
# Target nimbra_od_node (static) so process and unit tests link the same code as the executable.

add_library(nimbra_od_node STATIC
  src/base.cpp
  src/common/runtime_log_bridge.cpp
)
set_target_properties(nimbra_od_node PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(nimbra_od_node PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(nimbra_od_node PUBLIC nimbra_od_camera)

add_executable(object_detect src/main.cpp)
target_link_libraries(object_detect nimbra_od_node)
install(TARGETS object_detect DESTINATION lib/${PROJECT_NAME})

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  # Process tests: the real executable beside the demo scene, over DDS on loopback, and what it
  # publishes. They run in the private network namespace that scripts/test.sh opens around the
  # whole test run.
  ament_add_gtest(test_node_process test/node/test_node_process.cpp TIMEOUT 240
    ENV SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info)
  # The child-process helper of the client library's own process tests.
  target_include_directories(test_node_process PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/../rclcdds/test/transport)
  target_link_libraries(test_node_process ament_index_cpp::ament_index_cpp)
  target_compile_definitions(test_node_process PRIVATE
    OBJECT_DETECT_PATH="$<TARGET_FILE:object_detect>")
  add_dependencies(test_node_process object_detect)
endif()

if(BUILD_TESTING)
  # A camera inside the test process, driven through its callbacks (DDS on loopback).
  find_package(nimbra_demo_scene REQUIRED)
  ament_add_gtest(test_camera_frames
    test/node/test_camera_frames.cpp
    test/cloud/cloud_test_scenes.cpp
    TIMEOUT 180
    ENV SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=debug)
  target_include_directories(test_camera_frames PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/test/cloud ${CMAKE_CURRENT_SOURCE_DIR}/test/common)
  target_link_libraries(test_camera_frames nimbra_od_node
    nimbra_demo_scene::nimbra_demo_scene_core)
  target_compile_definitions(test_camera_frames PRIVATE
    DEMO_MODEL_DESCRIPTION="${NIMBRA_DEMO_MODEL_DESCRIPTION}")
endif()

# Per-stage CPU time of a demo-world frame, printed on demand; never a test.
find_package(benchmark QUIET)
if(BUILD_TESTING AND benchmark_FOUND)
  find_package(nimbra_demo_scene REQUIRED)
  add_executable(node_pipeline_benchmark benchmark/node_pipeline_benchmark.cpp)
  target_link_libraries(node_pipeline_benchmark nimbra_od_camera
    nimbra_demo_scene::nimbra_demo_scene_core benchmark::benchmark)
  target_compile_definitions(node_pipeline_benchmark PRIVATE
    DEMO_MODEL_DESCRIPTION="${NIMBRA_DEMO_MODEL_DESCRIPTION}"
    DYNAMIC_DETECTOR_CONFIG="${CMAKE_CURRENT_SOURCE_DIR}/config/dynamic_cloud_detector.yaml"
    NIMBRA_OD_CONFIG_DIR="${CMAKE_CURRENT_SOURCE_DIR}/config")
endif()

# The traditional path against a chain of PCL's own filters (VoxelGrid, SACSegmentation,
# EuclideanClusterExtraction) on demo-world frames, printed on demand; never a test.
if(BUILD_TESTING)
  find_package(nimbra_demo_scene REQUIRED)
  # PCL's include directories and its common and filters libraries come from cloud.cmake. The
  # reference chain's other PCL libraries are linked as files: PCL's imported targets of
  # these pull in VTK, whose MPI targets this C++-only project cannot provide.
  foreach(pcl_lib segmentation sample_consensus search kdtree)
    find_library(PCL_REFERENCE_${pcl_lib} pcl_${pcl_lib} REQUIRED)
    list(APPEND pcl_reference_libraries ${PCL_REFERENCE_${pcl_lib}})
  endforeach()
  add_executable(pcl_reference_benchmark benchmark/pcl_reference_benchmark.cpp)
  target_include_directories(pcl_reference_benchmark SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
  target_link_libraries(pcl_reference_benchmark nimbra_od_cloud
    nimbra_demo_scene::nimbra_demo_scene_core ${pcl_reference_libraries}
    ${PCL_FILTERS_LIBRARIES} ${PCL_COMMON_LIBRARIES})
endif()

if(BUILD_TESTING)
  # The node's messages decoded by @foxglove/ros2 (npm packages of rclcdds/test/interop).
  ament_add_gtest(test_messages_interop test/node/test_messages_interop.cpp TIMEOUT 120
    ENV SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info)
  target_include_directories(test_messages_interop PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/../rclcdds/test/transport
    ${CMAKE_CURRENT_SOURCE_DIR}/../rclcdds/test/interop)
  target_link_libraries(test_messages_interop nimbra_od_camera)
  target_compile_definitions(test_messages_interop PRIVATE
    INTEROP_DIR="${CMAKE_CURRENT_SOURCE_DIR}/../rclcdds/test/interop")
endif()
