#!/usr/bin/env bash
# Builds the colcon workspace at the repository root.
#   BUILD_TYPE   CMake build type (default Release)
#   JOBS         parallel compile jobs per package (default: number of cores)
# Extra arguments go to `colcon build` (e.g. --packages-up-to rclcdds).
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's rosidl, ament and colcon modules belong to the system interpreter.
export PATH="/usr/bin:${PATH}"

BUILD_TYPE="${BUILD_TYPE:-Release}"
JOBS="${JOBS:-$(nproc)}"
export MAKEFLAGS="-j${JOBS}"

# The standard interface stand-ins are skipped when a ROS 2 distribution already provides them.
skip=()
for pkg_xml in interfaces/ros_std/*/package.xml; do
  pkg="$(basename "$(dirname "${pkg_xml}")")"
  IFS=: read -r -a prefixes <<< "${AMENT_PREFIX_PATH:-}"
  for prefix in "${prefixes[@]}"; do
    [[ -z "${prefix}" || "${prefix}" == "$(pwd)/install"* ]] && continue
    if [[ -f "${prefix}/share/${pkg}/package.xml" ]]; then
      skip+=("${pkg}")
      break
    fi
  done
done
skip_args=()
if ((${#skip[@]})); then
  echo "using the installed ROS 2 packages: ${skip[*]}"
  skip_args=(--packages-skip "${skip[@]}")
fi

colcon build \
  --parallel-workers 2 \
  "${skip_args[@]}" \
  --cmake-args \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE}" \
    -DCMAKE_CXX_FLAGS="-g0" \
    -DPython3_EXECUTABLE=/usr/bin/python3 \
    -DBUILD_TESTING=ON \
  "$@"
