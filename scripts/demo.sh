#!/usr/bin/env bash
# The main job of the workspace. Until the perception node exists it shows the transport working:
# sets the machine up and builds (scripts/setup.sh), then, inside a private network namespace
# where only the loopback interface exists, an image publisher process sends 640x480 16UC1 depth
# images over DDS to a subscriber process, which prints every image that arrives. Ends by itself.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export PATH="/usr/bin:${PATH}"
set +u
# shellcheck disable=SC1091
source install/setup.bash
set -u

bin="install/rclcdds/lib/rclcdds"
count="${DEMO_IMAGES:-20}"
echo "=== ${count} depth images from image_talker to image_listener over DDS (loopback only) ==="
bash scripts/netns.sh bash -c '
  set -e
  "$1/image_listener" --count "$2" --timeout 20 &
  listener=$!
  "$1/image_talker" --count "$2" --rate 10 > /dev/null
  wait "${listener}"' demo "${bin}" "${count}"
