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
