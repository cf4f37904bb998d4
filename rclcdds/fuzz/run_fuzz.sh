#!/usr/bin/env bash
# Builds rclcdds's libFuzzer targets with Debian's clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs one for a bounded time. Exit status 0: no crash, no leak,
# no sanitizer report.
#   rclcdds/fuzz/run_fuzz.sh [--target cdr|requests] [--seconds N] [--build-dir DIR]
# Targets: cdr (default): the CDR reader on message types from the network;
#          requests: the parameter and lifecycle service requests, decoded and answered.
# Needs: clang (14) and libclang-rt-14-dev; the workspace built (install/ holds the messages).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
pkg="$(dirname "${here}")"
workspace="$(cd "${pkg}/.." && pwd)"
seconds=60
target=cdr
build_dir="${workspace}/build/rclcdds/fuzz"
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --target) target="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

includes=(-I"${pkg}/include" -I"${pkg}/src" -I/usr/include/rosidl_runtime_c
  -I/usr/include/rosidl_runtime_cpp -I/usr/include/rosidl_typesupport_interface
  -I/usr/include/rosidl_typesupport_introspection_cpp
  -I/usr/include/rosidl_typesupport_introspection_c)
libs=()
for msg_pkg in builtin_interfaces std_msgs geometry_msgs sensor_msgs visualization_msgs \
  rcl_interfaces lifecycle_msgs rmw_dds_common nimbra_protocol; do
  prefix="${workspace}/install/${msg_pkg}"
  includes+=(-I"${prefix}/include/${msg_pkg}")
  libs+=(-L"${prefix}/lib" -Wl,-rpath,"${prefix}/lib" -l"${msg_pkg}__rosidl_typesupport_introspection_cpp")
done
cdr_sources=("${pkg}/src/transport/cdr_reader.cpp" "${pkg}/src/transport/cdr_writer.cpp"
  "${pkg}/src/transport/cdr_layout.cpp" "${pkg}/src/transport/serialized_message.cpp")
case "${target}" in
  cdr)
    fuzzer=cdr_reader_fuzzer
    sources=("${cdr_sources[@]}")
    extra_libs=()
    seed_mode=() ;;
  requests)
    fuzzer=service_request_fuzzer
    sources=("${cdr_sources[@]}")
    for f in parameter_requests node_parameters parameter parameter_value parameter_map \
      exceptions node_options arguments state_machine lifecycle_node_interface runtime_log; do
      sources+=("${pkg}/src/runtime/${f}.cpp")
    done
    sources+=("${pkg}/src/clock.cpp" "${pkg}/src/transport/names.cpp")
    extra_libs=(-lyaml-cpp -lspdlog -lfmt -lpthread)
    seed_mode=(requests) ;;
  bag)
    fuzzer=bag_reader_fuzzer
    sources=()
    for f in bag_metadata mcap_records mcap_storage sqlite_storage; do
      sources+=("${pkg}/src/tools/bag/${f}.cpp")
    done
    extra_libs=(-lsqlite3 -lzstd -llz4 -lz -lyaml-cpp)
    seed_mode=(bag) ;;
  *) echo "unknown target ${target} (cdr, requests or bag)" >&2; exit 2 ;;
esac
corpus="${build_dir}/corpus-${target}"
[[ "${target}" == cdr && -d "${build_dir}/corpus" ]] && corpus="${build_dir}/corpus"
mkdir -p "${corpus}" "${build_dir}/artifacts"
flags=(-std=c++17 -O1 -g "${includes[@]}")

stale_source=0
for source in "${sources[@]}"; do
  if [[ "${source}" -nt "${build_dir}/${fuzzer}" ]]; then stale_source=1; fi
done
if [[ ! -x "${build_dir}/${fuzzer}" || "${here}/${fuzzer}.cpp" -nt "${build_dir}/${fuzzer}" ||
  "${here}/run_fuzz.sh" -nt "${build_dir}/${fuzzer}" || ${stale_source} == 1 ]]; then
  echo "building ${build_dir}/${fuzzer}"
  clang++ "${flags[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${here}/${fuzzer}.cpp" "${sources[@]}" "${libs[@]}" "${extra_libs[@]}" -o "${build_dir}/${fuzzer}"
fi
if [[ ! -x "${build_dir}/make_seeds" || "${here}/make_seeds.cpp" -nt "${build_dir}/make_seeds" ]]; then
  clang++ "${flags[@]}" "${here}/make_seeds.cpp" "${cdr_sources[@]}" "${libs[@]}" \
    -o "${build_dir}/make_seeds"
fi
"${build_dir}/make_seeds" "${corpus}" "${seed_mode[@]}"

echo "fuzzing ${fuzzer} for ${seconds} s"
"${build_dir}/${fuzzer}" -max_total_time="${seconds}" -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -max_len=65536 -artifact_prefix="${build_dir}/artifacts/${target}-" -print_final_stats=1 \
  "${corpus}"
