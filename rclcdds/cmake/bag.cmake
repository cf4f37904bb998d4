# rosbag2 bags: storage files (sqlite3 .db3, MCAP with zstd/lz4 chunks) and metadata.yaml in a
# DDS-free library, and the `rclcdds_cli bag record|play|info` commands on top of it.
# Included by tools.cmake after rclcdds_cli is defined.

find_package(SQLite3 REQUIRED)
find_library(RCLCDDS_ZSTD_LIBRARY zstd REQUIRED)
find_library(RCLCDDS_LZ4_LIBRARY lz4 REQUIRED)
find_package(ZLIB REQUIRED)

add_library(rclcdds_bag STATIC
  src/tools/bag/bag_directory.cpp
  src/tools/bag/bag_metadata.cpp
  src/tools/bag/mcap_records.cpp
  src/tools/bag/mcap_storage.cpp
  src/tools/bag/message_definition.cpp
  src/tools/bag/sqlite_storage.cpp)
set_target_properties(rclcdds_bag PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(rclcdds_bag PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src/tools/bag)
target_link_libraries(rclcdds_bag PUBLIC
  SQLite::SQLite3 ZLIB::ZLIB ${RCLCDDS_ZSTD_LIBRARY} ${RCLCDDS_LZ4_LIBRARY} yaml-cpp)

target_sources(rclcdds_cli PRIVATE src/tools/bag/bag_commands.cpp)
target_link_libraries(rclcdds_cli rclcdds_bag)

# Benchmark (built, never a test): recording and playing camera-sized streams.
add_executable(bag_benchmark benchmark/bag_benchmark.cpp)
target_link_libraries(bag_benchmark rclcdds rclcdds_bag)
# The child-process helper of the process tests.
target_include_directories(bag_benchmark PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/test/transport)
target_compile_definitions(bag_benchmark PRIVATE RCLCDDS_CLI="$<TARGET_FILE:rclcdds_cli>")
ament_target_dependencies(bag_benchmark sensor_msgs)

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  find_package(sensor_msgs REQUIRED)
  find_package(std_msgs REQUIRED)

  # No DDS: storage round trips, hostile files, metadata.
  ament_add_gtest(test_bag_storage test/bag/test_bag_storage.cpp TIMEOUT 120)
  target_link_libraries(test_bag_storage rclcdds_bag rclcdds)
  target_compile_definitions(test_bag_storage PRIVATE
    BAG_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/test/bag")

  # Opens DDS participants: run inside scripts/netns.sh (scripts/test.sh does).
  ament_add_gtest(test_bag_processes test/bag/test_bag_processes.cpp TIMEOUT 180)
  target_link_libraries(test_bag_processes rclcdds rclcdds_bag)
  # Also against @foxglove/rosbag2-web and @mcap/core (npm, installed by scripts/setup.sh).
  ament_target_dependencies(test_bag_processes std_msgs sensor_msgs geometry_msgs rosgraph_msgs)
  target_compile_definitions(test_bag_processes PRIVATE
    RCLCDDS_CLI="$<TARGET_FILE:rclcdds_cli>"
    BAG_INTEROP_DIR="${CMAKE_CURRENT_SOURCE_DIR}/test/bag/interop")
  add_dependencies(test_bag_processes rclcdds_cli)
endif()

if(BUILD_TESTING)
  # Bounded fuzzing of the MCAP, sqlite3 and metadata readers with clang's libFuzzer.
  find_program(RCLCDDS_CLANGXX clang++)
  if(RCLCDDS_CLANGXX)
    ament_add_test(test_bag_fuzz
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run_fuzz.sh --target bag --seconds 20
        --build-dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz
      GENERATE_RESULT_FOR_RETURN_CODE_ZERO
      TIMEOUT 400)
  endif()
endif()
