#!/usr/bin/env bash
# Runs a command inside a private network namespace that holds only the loopback interface,
# with multicast routed to it, so DDS traffic can never leave the machine.
#   scripts/netns.sh CMD [ARGS...]
set -euo pipefail
if [[ "${NIMBRA_IN_NETNS:-}" == "1" ]]; then
  exec "$@"
fi
exec unshare -n env NIMBRA_IN_NETNS=1 bash -c '
  ip link set lo up
  ip link set lo multicast on
  ip route add 224.0.0.0/4 dev lo
  exec "$@"' bash "$@"
