# Cloud area: depth-to-cloud conversion, cluster labelling, region extraction, view extents.
# Target nimbra_od_cloud (static, position independent); free of middleware.

find_package(nimbra_perception_libs REQUIRED)
find_package(Eigen3 REQUIRED)
find_package(OpenCV REQUIRED COMPONENTS core imgproc)
find_package(PCL REQUIRED COMPONENTS common filters)

# PCL filter and transform headers are confined to cloud_preprocess.cpp; the others use only
# pcl/point_cloud.h and pcl/point_types.h.
add_library(nimbra_od_cloud STATIC
  src/common/camera_frame.cpp
  src/common/camera_frame_registry.cpp
  src/common/camera_intrinsics.cpp
  src/common/cloud.cpp
  src/common/cloud_preprocess.cpp
  src/common/depth_image_view.cpp
  src/common/depth_to_cloud.cpp
  src/common/depth_to_cloud_fast.cpp
  src/common/detection_mapping.cpp
  src/common/obstacle_groups.cpp
  src/common/region_extraction.cpp
)
set_target_properties(nimbra_od_cloud PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(nimbra_od_cloud PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src
)
target_include_directories(nimbra_od_cloud SYSTEM PUBLIC ${PCL_INCLUDE_DIRS})
target_link_libraries(nimbra_od_cloud PUBLIC
  nimbra_od_common
  nimbra_perception_libs::nimbra_perception_libs
  ${PCL_COMMON_LIBRARIES}
  ${PCL_FILTERS_LIBRARIES}
  opencv_core
  opencv_imgproc
  Eigen3::Eigen
)
ament_target_dependencies(nimbra_od_cloud PUBLIC std_msgs sensor_msgs)

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  ament_add_gtest(test_cloud
    test/cloud/test_camera_frame.cpp
    test/cloud/test_cloud_labelling.cpp
    test/cloud/test_depth_to_cloud.cpp
    test/cloud/test_obstacle_groups.cpp
    test/cloud/test_region_extraction.cpp
    test/cloud/cloud_test_scenes.cpp
    ENV SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=debug
  )
  target_include_directories(test_cloud PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/test/cloud ${CMAKE_CURRENT_SOURCE_DIR}/test/common)
  target_link_libraries(test_cloud nimbra_od_cloud)
endif()

# Speed figures of the cloud stages on a demo-world frame, printed on demand; never a test.
find_package(benchmark QUIET)
if(BUILD_TESTING AND benchmark_FOUND)
  find_package(nimbra_demo_scene REQUIRED)
  add_executable(benchmark_cloud
    benchmark/cloud_benchmark.cpp
    test/cloud/cloud_test_scenes.cpp
  )
  target_include_directories(benchmark_cloud PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test/cloud)
  target_link_libraries(benchmark_cloud nimbra_od_cloud nimbra_demo_scene::nimbra_demo_scene_core
    benchmark::benchmark)
endif()
