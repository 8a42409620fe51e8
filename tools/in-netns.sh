#!/usr/bin/env bash
# Runs a command in a network namespace of its own, where the machine has
# loopback and one documentation address (192.0.2.10): the program then finds
# an address to register whatever the build machine's own addresses are.
# Without root (or without namespaces) the command runs as it is.
#   usage: tools/in-netns.sh COMMAND [ARGS...]
set -euo pipefail
if [ -n "${VASTREL_IN_NETNS:-}" ] || [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    VASTREL_IN_NETNS=1 exec "$@"
fi
ns="vastrel-$$"
if ! ip netns add "$ns" 2>/dev/null; then
    echo "in-netns: no network namespace here; using the machine's own addresses" >&2
    VASTREL_IN_NETNS=1 exec "$@"
fi
peer=""
cleanup() {
    ip netns del "$ns" 2>/dev/null || true
    [ -n "$peer" ] && ip link del "$peer" 2>/dev/null || true
}
trap cleanup EXIT
ip netns exec "$ns" ip link set lo up
if ! ip netns exec "$ns" ip link add vastrel0 type dummy 2>/dev/null; then
    peer="vv$$"
    ip link add "$peer" type veth peer name vastrel0
    ip link set vastrel0 netns "$ns"
fi
ip netns exec "$ns" ip addr add 192.0.2.10/24 dev vastrel0
ip netns exec "$ns" ip link set vastrel0 up
status=0
VASTREL_IN_NETNS=1 ip netns exec "$ns" "$@" || status=$?
exit $status
