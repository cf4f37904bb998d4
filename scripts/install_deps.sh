#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need.
# Idempotent; run as root on Debian 12.
set -euo pipefail

PACKAGES=(
  # build
  cmake g++ git colcon python3-colcon-ros python3-colcon-cmake python3-colcon-package-selection
  python3-colcon-parallel-executor python3-colcon-output python3-colcon-library-path
  python3-colcon-test-result python3-colcon-bash python3-colcon-package-information
  python3-colcon-defaults ament-cmake rosidl-core
  ament-cmake-googletest libament-index-cpp-dev
  # libraries
  cyclonedds-dev cyclonedds-tools libpcl-dev libopencv-dev libeigen3-dev libyaml-cpp-dev
  libspdlog-dev libfmt-dev libsystemd-dev libprotobuf-dev protobuf-compiler
  # tests and tools
  python3-onnx python3-numpy libbenchmark-dev libgtest-dev libgmock-dev clang libclang-rt-14-dev
  iproute2 util-linux
  # rosbag2 bags (rclcdds_cli bag): sqlite3 and MCAP chunk compression; sqlite3 CLI for tests
  libsqlite3-dev libzstd-dev liblz4-dev zlib1g-dev sqlite3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# nodejs/npm: the machine image may ship NodeSource's nodejs, which bundles npm.
if ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
else
  echo "all Debian packages present"
fi
