#!/usr/bin/env bash
# Runs a test command in namespaces made for it alone: a network namespace
# with loopback and an interface vastrel0 of nine addresses (ten interface
# addresses in all), and a mount namespace whose /etc/hosts gives the name vastrel-twin
# two addresses (vastrel-both ::1 and 127.0.0.1, vastrel-six ::1). The tests it runs skip themselves anywhere else. Needs root
# and namespaces; without them the command is skipped (exit 77).
#   usage: in-namespace.sh COMMAND [ARGS...]
set -euo pipefail
if [ -z "${VASTREL_TEST_NAMESPACE:-}" ]; then
    if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
        echo "in-namespace: needs root, unshare and ip; skipped" >&2
        exit 77
    fi
    VASTREL_TEST_NAMESPACE=1 exec unshare --mount --net "$0" "$@"
fi
ip link set lo up
ip link add vastrel0 type dummy 2>/dev/null || ip link add vastrel0 type veth peer name vastrel1
for i in $(seq 1 9); do ip addr add "198.51.100.$i/32" dev vastrel0; done
ip link set vastrel0 up
hosts=$(mktemp)
trap 'rm -f "$hosts"' EXIT
printf '127.0.0.2 vastrel-twin\n127.0.0.1 vastrel-twin\n::1 vastrel-both vastrel-six\n127.0.0.1 vastrel-both\n' >"$hosts"
mount --bind "$hosts" /etc/hosts
export VASTREL_TWIN_HOST=vastrel-twin
"$@"
