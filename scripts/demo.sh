#!/usr/bin/env bash
# The main job of the workspace. Sets the machine up and builds (scripts/setup.sh), then, inside a
# private network namespace where only the loopback interface exists, runs the demo world
# (demo_scene: a robot with two depth cameras driving through a hospital corridor), the perception
# node object_detect with the demo segmentation model, and demo_report, which prints a progress
# line a second, then a summary table, the accuracy figures against the demo world's ground truth
# and the paths of the pictures it wrote. Ends by itself and stops everything it started.
#   DEMO_SECONDS   how long the report watches the node (default 20)
#   DEMO_SEED      demo world layout (default 42)
#   DEMO_START_S   scene time the robot starts at (default 8)
#   DEMO_OUT       folder of the pictures and logs (default /tmp/nimbra_demo)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export PATH="/usr/bin:${PATH}"
set +u
# shellcheck disable=SC1091
source install/setup.bash
set -u

echo "=== object_detect on the demo world (DDS on loopback only) ==="
bash scripts/netns.sh bash install/nimbra_demo_report/lib/nimbra_demo_report/run_demo.sh
