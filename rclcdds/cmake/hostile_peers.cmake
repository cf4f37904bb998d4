# Robustness against hostile peers: the CLI's checks of what peers announce, a raw-bytes
# hostile writer, and the tests that aim it at nodes and at rclcdds_cli (included by tools.cmake).

target_sources(rclcdds_cli PRIVATE src/tools/peer_input.cpp)

if(BUILD_TESTING)
  target_sources(test_node_cli_text PRIVATE
    test/hostile/test_cli_peer_input.cpp
    src/tools/peer_input.cpp)

  # Without DDS: request answers of the parameter services, the warning limit.
  ament_add_gtest(test_hostile_input test/hostile/test_hostile_input.cpp)
  target_link_libraries(test_hostile_input rclcdds)
  target_include_directories(test_hostile_input PRIVATE src)

  # A peer in a process of its own, sending raw bytes.
  add_executable(hostile_peer test/hostile/hostile_peer.cpp)
  target_link_libraries(hostile_peer rclcdds)

  # Opens DDS participants: run inside scripts/netns.sh.
  ament_add_gtest(test_node_hostile_peers test/hostile/test_hostile_peers.cpp TIMEOUT 300)
  target_link_libraries(test_node_hostile_peers rclcdds)
  ament_target_dependencies(test_node_hostile_peers std_msgs)
  target_compile_definitions(test_node_hostile_peers PRIVATE
    NODE_PEER="$<TARGET_FILE:node_peer>"
    HOSTILE_PEER="$<TARGET_FILE:hostile_peer>"
    RCLCDDS_CLI="$<TARGET_FILE:rclcdds_cli>")
  add_dependencies(test_node_hostile_peers node_peer hostile_peer rclcdds_cli)
endif()
