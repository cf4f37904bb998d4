# Tracker area: the Hungarian assignment solver and the process-wide trash tracker.
# Target nimbra_od_tracker (static, position independent); needs nimbra_od_common (logger, classes).

find_package(Eigen3 REQUIRED)
find_package(builtin_interfaces REQUIRED)

add_library(nimbra_od_tracker STATIC
  src/tracker/camera_view_window.cpp
  src/tracker/hungarian_algorithm.cpp
  src/tracker/trash_tracker.cpp
  src/tracker/trash_tracker_config.cpp
  src/tracker/waste_handling.cpp
  src/tracker/waste_messages.cpp
)
set_target_properties(nimbra_od_tracker PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(nimbra_od_tracker PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(nimbra_od_tracker PUBLIC nimbra_od_common Eigen3::Eigen)
ament_target_dependencies(nimbra_od_tracker PUBLIC
  builtin_interfaces geometry_msgs visualization_msgs nimbra_protocol)

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)

  ament_add_gtest(test_hungarian_algorithm test/tracker/test_hungarian_algorithm.cpp)
  target_link_libraries(test_hungarian_algorithm nimbra_od_tracker)

  ament_add_gtest(test_trash_tracker
    test/tracker/test_trash_tracker.cpp
    ENV SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info
  )
  target_link_libraries(test_trash_tracker nimbra_od_tracker)
  target_include_directories(test_trash_tracker PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test)

  # Speed and step-count figures, run by hand; never registered as tests.
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(tracker_benchmark benchmark/tracker_benchmark.cpp)
    target_link_libraries(tracker_benchmark nimbra_od_tracker benchmark::benchmark)
  endif()
  add_executable(tracker_hungarian_step_survey benchmark/tracker_hungarian_step_survey.cpp)
  target_link_libraries(tracker_hungarian_step_survey nimbra_od_tracker)
endif()
