# Unit tests (colcon test). Benchmarks live in cmake/benchmarks.cmake and are never tests.
find_package(ament_cmake_gtest REQUIRED)
find_package(PCL REQUIRED COMPONENTS common filters)  # the scenes voxelize with VoxelGrid

add_library(${PROJECT_NAME}_test_scenes STATIC test/scenes.cpp)
target_link_libraries(${PROJECT_NAME}_test_scenes PUBLIC ${PROJECT_NAME} ${PCL_FILTERS_LIBRARIES})
target_include_directories(${PROJECT_NAME}_test_scenes PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/test)

ament_add_gtest(test_remove_ground_line_fit test/test_remove_ground_line_fit.cpp)
target_link_libraries(test_remove_ground_line_fit ${PROJECT_NAME}_test_scenes)

ament_add_gtest(test_dynamic_cloud_detector test/test_dynamic_cloud_detector.cpp)
target_link_libraries(test_dynamic_cloud_detector ${PROJECT_NAME}_test_scenes)
target_compile_definitions(test_dynamic_cloud_detector PRIVATE
  NIMBRA_DETECTOR_CONFIG="${CMAKE_CURRENT_SOURCE_DIR}/../nimbra_object_detect/config/dynamic_cloud_detector.yaml")

ament_add_gtest(test_moving_scene_family test/test_moving_scene_family.cpp)
target_link_libraries(test_moving_scene_family ${PROJECT_NAME}_test_scenes)
target_compile_definitions(test_moving_scene_family PRIVATE
  NIMBRA_DETECTOR_CONFIG="${CMAKE_CURRENT_SOURCE_DIR}/../nimbra_object_detect/config/dynamic_cloud_detector.yaml")

ament_add_gtest(test_cloud_cluster test/test_cloud_cluster.cpp)
target_link_libraries(test_cloud_cluster ${PROJECT_NAME})

ament_add_gtest(test_perception_utils test/test_perception_utils.cpp)
target_link_libraries(test_perception_utils ${PROJECT_NAME})
