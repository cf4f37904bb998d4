# Generators available on Debian 12: C and C++ messages with introspection type support.
# Finding them registers their extensions with rosidl_generate_interfaces().
find_package(rosidl_cmake REQUIRED)
find_package(rosidl_generator_c REQUIRED)
find_package(rosidl_generator_cpp REQUIRED)
find_package(rosidl_typesupport_introspection_c REQUIRED)
find_package(rosidl_typesupport_introspection_cpp REQUIRED)
