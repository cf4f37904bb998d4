# Transport: CDR serialisation, the Cyclone DDS context, publishers, subscriptions and the
# dispatch core (callback groups, executors).

find_package(CycloneDDS REQUIRED)
find_package(spdlog REQUIRED)
find_package(rosidl_runtime_cpp REQUIRED)
find_package(rosidl_typesupport_introspection_cpp REQUIRED)

target_sources(rclcdds PRIVATE
  src/transport/callback_group.cpp
  src/transport/cdr_layout.cpp
  src/transport/cdr_reader.cpp
  src/transport/cdr_sertype.cpp
  src/transport/cdr_writer.cpp
  src/transport/context.cpp
  src/transport/dds_endpoint.cpp
  src/transport/dds_qos.cpp
  src/transport/executor.cpp
  src/transport/names.cpp
  src/transport/network_config.cpp
  src/transport/node_entities.cpp
  src/transport/node_topics.cpp
  src/transport/publisher_base.cpp
  src/transport/qos.cpp
  src/transport/raw_reader.cpp
  src/transport/raw_writer.cpp
  src/transport/serialized_message.cpp
  src/transport/signal_handler.cpp
  src/transport/single_threaded_executor.cpp
  src/transport/spin.cpp
  src/transport/subscription_base.cpp
  src/transport/transport_log.cpp
  src/transport/warning_limiter.cpp)
ament_target_dependencies(rclcdds PUBLIC rosidl_runtime_cpp rosidl_typesupport_introspection_cpp)
target_link_libraries(rclcdds PRIVATE CycloneDDS::ddsc spdlog::spdlog)
list(APPEND RCLCDDS_EXPORTED_DEPENDENCIES rosidl_runtime_cpp rosidl_typesupport_introspection_cpp)

# Message packages used by the examples, tests and benchmarks.
find_package(std_msgs REQUIRED)
find_package(sensor_msgs REQUIRED)

add_executable(image_talker examples/image_talker.cpp)
target_link_libraries(image_talker rclcdds)
ament_target_dependencies(image_talker sensor_msgs)
add_executable(image_listener examples/image_listener.cpp)
target_link_libraries(image_listener rclcdds)
ament_target_dependencies(image_listener sensor_msgs)
install(TARGETS image_talker image_listener DESTINATION lib/${PROJECT_NAME})

# Benchmarks: built, never registered as tests (run by hand, print figures).
find_package(benchmark QUIET)
if(benchmark_FOUND)
  find_package(nimbra_protocol QUIET)
  add_executable(transport_serialization_benchmark benchmark/transport_serialization_benchmark.cpp)
  target_link_libraries(transport_serialization_benchmark rclcdds benchmark::benchmark)
  ament_target_dependencies(transport_serialization_benchmark sensor_msgs)
  add_executable(transport_latency_benchmark benchmark/transport_latency_benchmark.cpp)
  target_link_libraries(transport_latency_benchmark rclcdds benchmark::benchmark)
  ament_target_dependencies(transport_latency_benchmark sensor_msgs)
endif()

if(BUILD_TESTING)
  find_package(ament_cmake_gtest REQUIRED)
  find_package(geometry_msgs REQUIRED)
  find_package(nimbra_protocol REQUIRED)
  set(_msg_packages builtin_interfaces std_msgs geometry_msgs sensor_msgs visualization_msgs
    tf2_msgs rosgraph_msgs rcl_interfaces lifecycle_msgs rmw_dds_common nimbra_protocol)
  foreach(_pkg ${_msg_packages})
    find_package(${_pkg} REQUIRED)
  endforeach()

  ament_add_gtest(test_transport_cdr
    test/transport/test_cdr_bytes.cpp
    test/transport/test_cdr_round_trip.cpp
    test/transport/test_cdr_bounded.cpp
    test/transport/test_cdr_malformed.cpp)
  target_link_libraries(test_transport_cdr rclcdds)
  ament_target_dependencies(test_transport_cdr ${_msg_packages})

  ament_add_gtest(test_transport_api test/transport/test_transport_api.cpp)
  target_link_libraries(test_transport_api rclcdds)
  ament_target_dependencies(test_transport_api std_msgs)

  # Tests that open DDS participants: run inside scripts/netns.sh (scripts/test.sh does). The
  # other process is hostile_peer (cmake/hostile_peers.cmake).
  ament_add_gtest(test_transport_dds test/transport/test_pubsub_local.cpp TIMEOUT 240)
  target_link_libraries(test_transport_dds rclcdds)
  ament_target_dependencies(test_transport_dds sensor_msgs std_msgs)
  target_compile_definitions(test_transport_dds PRIVATE
    HOSTILE_PEER="$<TARGET_FILE:hostile_peer>")
  add_dependencies(test_transport_dds hostile_peer)

  # Interoperability with an independent ROS 2 implementation (npm @foxglove/ros2).
  ament_add_gtest(test_transport_interop test/interop/test_interop.cpp TIMEOUT 180)
  target_link_libraries(test_transport_interop rclcdds)
  ament_target_dependencies(test_transport_interop sensor_msgs)
  target_compile_definitions(test_transport_interop PRIVATE
    INTEROP_DIR="${CMAKE_CURRENT_SOURCE_DIR}/test/interop")

  # Bounded fuzzing of the CDR reader inside the tests when clang's libFuzzer is available.
  find_program(RCLCDDS_CLANGXX clang++)
  if(RCLCDDS_CLANGXX)
    ament_add_test(test_transport_fuzz
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run_fuzz.sh --seconds 30
        --build-dir ${CMAKE_CURRENT_BINARY_DIR}/fuzz
      GENERATE_RESULT_FOR_RETURN_CODE_ZERO
      TIMEOUT 400)
  endif()
endif()
