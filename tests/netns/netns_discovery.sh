#!/usr/bin/env bash
# Finding cameras for real, with multicast that never leaves a network
# namespace this script makes for the run: inside it a veth pair, both ends
# up and multicast-capable, the camera's side holding its own address, and
# the group 239.255.255.250 routed onto the prober's side. The test program
# then probes there, against silence and against the simulator.
# Without root, or where namespaces or veth pairs cannot be made, the run is
# skipped (exit 77) and nothing is sent at all.
# usage: netns_discovery.sh TEST_PROGRAM [QtTest arguments...]
set -euo pipefail
skip=77
prober_if=dv0
camera_if=dv1
prober_ip=10.231.0.1
camera_ip=10.231.0.2

if [ "${1:-}" != "--inside" ]; then
    [ $# -ge 1 ] || { echo "usage: $0 TEST_PROGRAM [arguments...]" >&2; exit 2; }
    if [ "$(id -u)" != 0 ]; then
        echo "SKIP: making a network namespace (unshare -n) needs root"
        exit $skip
    fi
    if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
        echo "SKIP: unshare (util-linux) and ip (iproute2) are needed"
        exit $skip
    fi
    if ! unshare -n true 2>/dev/null; then
        echo "SKIP: this machine does not allow a new network namespace (unshare -n)"
        exit $skip
    fi
    outer="$(readlink /proc/self/ns/net)"
    exec unshare -n -- "$0" --inside "$outer" "$@"
fi

outer="$2"
shift 2
# The probes go out only where nobody else is.
if [ "$(readlink /proc/self/ns/net)" = "$outer" ]; then
    echo "FAIL: still in the machine's own network namespace" >&2
    exit 1
fi
ip link set lo up
if ! ip link add "$prober_if" type veth peer name "$camera_if" 2>/dev/null; then
    echo "SKIP: the kernel cannot make a veth pair here"
    exit $skip
fi
ip addr add "$prober_ip/24" dev "$prober_if"
ip addr add "$camera_ip/24" dev "$camera_if"
ip link set "$prober_if" up
ip link set "$camera_if" up
ip route add 239.255.255.250/32 dev "$prober_if"
# Both ends live in this one namespace, so a probe that crosses the pair
# arrives from an address of this namespace; the camera's side is told to
# accept it as it would from another machine (these settings are the
# namespace's own).
for conf in all "$camera_if"; do
    echo 0 >"/proc/sys/net/ipv4/conf/$conf/rp_filter"
done
echo 1 >"/proc/sys/net/ipv4/conf/$camera_if/accept_local"

export NETNS_DISCOVERY_OUTER_NS="$outer"
export NETNS_DISCOVERY_INTERFACES="$prober_if $camera_if"
export NETNS_DISCOVERY_CAMERA="$camera_ip"
exec "$@"
