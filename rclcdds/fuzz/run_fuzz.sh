#!/usr/bin/env bash
# Builds the CDR reader fuzz target with Debian's clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time. Exit status 0: no crash, no leak,
# no sanitizer report.
#   rclcdds/fuzz/run_fuzz.sh [--seconds N] [--build-dir DIR]
# Needs: clang (14) and libclang-rt-14-dev; the workspace built (install/ holds the messages).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
pkg="$(dirname "${here}")"
workspace="$(cd "${pkg}/.." && pwd)"
seconds=60
build_dir="${workspace}/build/rclcdds/fuzz"
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
mkdir -p "${build_dir}/corpus" "${build_dir}/artifacts"

includes=(-I"${pkg}/include" -I/usr/include/rosidl_runtime_c -I/usr/include/rosidl_runtime_cpp
  -I/usr/include/rosidl_typesupport_interface -I/usr/include/rosidl_typesupport_introspection_cpp
  -I/usr/include/rosidl_typesupport_introspection_c)
libs=()
for msg_pkg in builtin_interfaces std_msgs geometry_msgs sensor_msgs visualization_msgs \
  rcl_interfaces rmw_dds_common nimbra_protocol; do
  prefix="${workspace}/install/${msg_pkg}"
  includes+=(-I"${prefix}/include/${msg_pkg}")
  libs+=(-L"${prefix}/lib" -Wl,-rpath,"${prefix}/lib" -l"${msg_pkg}__rosidl_typesupport_introspection_cpp")
done
sources=("${pkg}/src/transport/cdr_reader.cpp" "${pkg}/src/transport/cdr_writer.cpp"
  "${pkg}/src/transport/cdr_layout.cpp" "${pkg}/src/transport/serialized_message.cpp")
flags=(-std=c++17 -O1 -g "${includes[@]}")

if [[ ! -x "${build_dir}/cdr_reader_fuzzer" || "${here}/cdr_reader_fuzzer.cpp" -nt "${build_dir}/cdr_reader_fuzzer" ]]; then
  echo "building ${build_dir}/cdr_reader_fuzzer"
  clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${here}/cdr_reader_fuzzer.cpp" "${sources[@]}" "${libs[@]}" -o "${build_dir}/cdr_reader_fuzzer"
  clang++ "${flags[@]}" "${here}/make_seeds.cpp" "${sources[@]}" "${libs[@]}" -o "${build_dir}/make_seeds"
fi
"${build_dir}/make_seeds" "${build_dir}/corpus"

echo "fuzzing the CDR reader for ${seconds} s"
"${build_dir}/cdr_reader_fuzzer" -max_total_time="${seconds}" -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -max_len=65536 -artifact_prefix="${build_dir}/artifacts/" -print_final_stats=1 \
  "${build_dir}/corpus"
