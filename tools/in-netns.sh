#!/usr/bin/env bash
# Runs a command in a network namespace of its own, where the machine has
# loopback and one interface with a documentation address (192.0.2.10) and a
# global IPv6 address (2001:470:1f0b::10, exported as VASTREL_NETNS_IPV6):
# the program then finds addresses to register whatever the build machine's
# own addresses are.
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
# Without duplicate address detection it is usable at once, carrier or none;
# a machine without IPv6 goes on without it (VASTREL_NETNS_IPV6 empty).
ipv6=2001:470:1f0b::10
ip netns exec "$ns" ip -6 addr add "$ipv6/64" dev vastrel0 nodad 2>/dev/null || ipv6=""
ip netns exec "$ns" ip link set vastrel0 up
status=0
VASTREL_IN_NETNS=1 VASTREL_NETNS_IPV6=$ipv6 ip netns exec "$ns" "$@" || status=$?
exit $status
