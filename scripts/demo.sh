#!/usr/bin/env bash
# The main job of the workspace. Sets the machine up and builds (scripts/setup.sh), then, inside a
# private network namespace where only the loopback interface exists, runs demo_scene (a synthetic
# robot with two depth cameras driving through a hospital corridor: images, camera_info, TF,
# cmd_vel, fsm_status) for about 8 s and, meanwhile, looks at it with rclcdds_cli the way a user
# would: node list, topic list, the rate of a depth stream, one camera_info and one fsm_status
# message. Ends by itself.
#   DEMO_SECONDS   how long demo_scene runs (default 8)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export PATH="/usr/bin:${PATH}"
set +u
# shellcheck disable=SC1091
source install/setup.bash
set -u

seconds="${DEMO_SECONDS:-8}"
scene="install/nimbra_demo_scene/lib/nimbra_demo_scene/demo_scene"
cli="install/rclcdds/lib/rclcdds/rclcdds_cli"
echo "=== demo_scene for ${seconds} s, watched with rclcdds_cli (DDS on loopback only) ==="
bash scripts/netns.sh bash -c '
  set -euo pipefail
  scene="$1"; cli="$2"; seconds="$3"
  log="$(mktemp)"
  "${scene}" --ros-args -p duration_s:="${seconds}.0" > "${log}" 2>&1 &
  scene_pid=$!
  trap "kill ${scene_pid} 2> /dev/null || true; rm -f ${log}" EXIT
  show() {
    echo
    echo "\$ rclcdds_cli $* --settle 0.5"
    "${cli}" "$@" --settle 0.5
  }
  sleep 1
  show node list
  show topic list -t
  show topic echo /camera_01/depth/camera_info sensor_msgs/msg/CameraInfo --once --timeout 5
  show topic echo /fsm_status nimbra_protocol/msg/TaskCenterFsmStatus --once --timeout 5
  show topic hz /camera_01/depth/image_raw --duration 3
  status=0
  wait "${scene_pid}" || status=$?
  echo
  echo "--- demo_scene log (exit status ${status}) ---"
  cat "${log}"
  exit "${status}"' demo "${scene}" "${cli}" "${seconds}"
