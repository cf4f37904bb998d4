#!/usr/bin/env bash
# Builds object_detect and its process tests with AddressSanitizer and UndefinedBehaviorSanitizer
# into build_asan/ and install_asan/ (the rest of the workspace as built by scripts/build.sh), then
# runs the node's process tests with it inside the private network namespace. Any sanitizer
# report fails the run. On demand; not part of CI (a second full build of the node).
#   SANITIZER  address,undefined (default) or thread
set -euo pipefail
cd "$(dirname "$0")/.."
export PATH="/usr/bin:${PATH}"
set +u
# shellcheck disable=SC1091
source install/setup.bash
set -u
sanitizer="${SANITIZER:-address,undefined}"
base="build_san_${sanitizer//,/_}"
# Under AddressSanitizer Eigen switches to its own aligned allocation, which the uninstrumented
# libraries (PCL, perception) do not use: a cloud allocated on one side and freed on the other would
# be reported as an overflow. glibc's malloc is 16-byte aligned, so keep Eigen on it everywhere.
eigen_malloc="-DEIGEN_MALLOC_ALREADY_ALIGNED=1"
MAKEFLAGS="-j${JOBS:-2}" colcon build --packages-select nimbra_object_detect \
  --build-base "${base}" --install-base "install_san_${sanitizer//,/_}" \
  --cmake-args -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DPython3_EXECUTABLE=/usr/bin/python3 \
    "-DCMAKE_CXX_FLAGS=-fsanitize=${sanitizer} -fno-omit-frame-pointer -g1 ${eigen_malloc}" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${sanitizer}"
log="$(mktemp)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1"
export TSAN_OPTIONS="second_deadlock_stack=1"
status=0
bash scripts/netns.sh "${base}/nimbra_object_detect/test_node_process" > "${log}" 2>&1 || status=$?
# The in-process camera test reads the debug lines (the environment ctest gives it).
SPDLOG_STDOUT=false SPDLOG_SYSTEMD=false SPDLOG_LEVEL=debug \
  bash scripts/netns.sh "${base}/nimbra_object_detect/test_camera_frames" >> "${log}" 2>&1 || status=$?
grep -E "^\[ (figure|  FAILED|  PASSED) \]|runtime error|ERROR: (Address|Thread)Sanitizer|WARNING: ThreadSanitizer" "${log}" || true
if grep -qE "runtime error|ERROR: AddressSanitizer|WARNING: ThreadSanitizer" "${log}"; then
  echo "sanitizer reports: see ${log}"
  exit 1
fi
exit "${status}"
