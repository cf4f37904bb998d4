# Camera area: the DepthCamera (configuration, intake, segmentation, pipeline, labelling,
# publishing, trash worker) and its middleware-free helpers.
# Target nimbra_od_camera (static, position independent).

find_package(rclcdds REQUIRED)
find_package(nimbra_model_zoo REQUIRED)
find_package(rcl_interfaces REQUIRED)

# The PCL-heavy translation units are the pipeline, the labelling and the message builders.
add_library(nimbra_od_camera STATIC
  src/camera/ai_worker.cpp
  src/camera/camera_config.cpp
  src/camera/depth_camera.cpp
  src/camera/depth_camera_intake.cpp
  src/camera/depth_camera_labelling.cpp
  src/camera/depth_camera_params.cpp
  src/camera/depth_camera_pipeline.cpp
  src/camera/depth_camera_trashcallback.cpp
  src/camera/detection_filter.cpp
  src/camera/frame_pairing.cpp
  src/camera/trash_frame.cpp
  src/camera/obstacle_messages.cpp
  src/camera/trash_estimator.cpp
)
set_target_properties(nimbra_od_camera PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(nimbra_od_camera PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(nimbra_od_camera PUBLIC
  nimbra_od_cloud
  nimbra_od_tracker
  nimbra_model_zoo::nimbra_model_zoo
  rclcdds::rclcdds
)
ament_target_dependencies(nimbra_od_camera PUBLIC rcl_interfaces nimbra_protocol)

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)

  # Camera helpers without DDS: parameter reading and files, pairing rules, trash geometry,
  # obstacle messages.
  ament_add_gtest(test_camera
    test/camera/test_camera_config.cpp
    test/camera/test_frame_pairing.cpp
    test/camera/test_trash_frame.cpp
    test/camera/test_detection_filter.cpp
    test/camera/test_obstacle_messages.cpp
    test/cloud/cloud_test_scenes.cpp
    ENV SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
  )
  target_include_directories(test_camera PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/test/cloud ${CMAKE_CURRENT_SOURCE_DIR}/test/common)
  target_link_libraries(test_camera nimbra_od_camera)
  target_compile_definitions(test_camera PRIVATE
    NIMBRA_OD_CONFIG_DIR="${CMAKE_CURRENT_SOURCE_DIR}/config")
endif()
