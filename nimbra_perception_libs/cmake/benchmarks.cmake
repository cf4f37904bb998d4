# Benchmarks: built, never registered as tests. Run build/nimbra_perception_libs/benchmark_perception
# (pin to one core with `taskset -c 0`).
find_package(benchmark QUIET)
if(NOT benchmark_FOUND OR NOT BUILD_TESTING)
  return()
endif()
find_package(PCL REQUIRED COMPONENTS common filters search kdtree sample_consensus segmentation)

add_executable(benchmark_perception benchmark/benchmark_perception.cpp)
target_include_directories(benchmark_perception SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
target_link_libraries(benchmark_perception
  ${PROJECT_NAME}_test_scenes
  benchmark::benchmark
  ${PCL_FILTERS_LIBRARIES}
  ${PCL_SEGMENTATION_LIBRARIES}
  ${PCL_SEARCH_LIBRARIES}
  ${PCL_KDTREE_LIBRARIES}
  ${PCL_SAMPLE_CONSENSUS_LIBRARIES})
