#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) and builds the workspace.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install_deps.sh

# Node.js packages of the interoperability test (an independent ROS 2 implementation).
for dir in rclcdds/test/interop rclcdds/test/bag/interop; do
  if [[ -f "${dir}/package.json" ]]; then
    (cd "${dir}" && npm install --no-audit --no-fund --loglevel=error)
  fi
done

bash scripts/build.sh "$@"
