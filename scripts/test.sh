#!/usr/bin/env bash
# Sets up the machine, builds the workspace and runs every test inside a private network namespace.
# Extra arguments go to `colcon test` (e.g. --packages-select rclcdds).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export PATH="/usr/bin:${PATH}"
rc=0
bash scripts/netns.sh colcon test --parallel-workers 1 --event-handlers console_cohesion+ "$@" || rc=$?
colcon test-result --verbose || rc=$?
exit "${rc}"
