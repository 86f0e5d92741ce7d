#!/usr/bin/env bash
# Runs a test binary inside a network namespace of its own, where 255.255.255.255 reaches only
# what the test itself starts there: one veth interface with the client's address 10.77.0.1, the
# simulated devices' addresses 10.77.0.2-4 and a spare one (10.77.0.50) for the IP change, and
# the default route through it.
#
#   broadcast_netns.sh <test binary> [arguments...]
#
# Exits 77 (reported as skipped) where no namespace can be made, for instance without root.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 <test binary> [arguments...]" >&2
    exit 2
fi

skip() {
    echo "SKIPPED: $*"
    exit 77
}

command -v unshare >/dev/null || skip "unshare (util-linux) is not installed"
command -v ip >/dev/null || skip "ip (iproute2) is not installed"
if ! why=$(unshare -n true 2>&1); then
    skip "cannot create a network namespace (needs root or CAP_SYS_ADMIN): $why"
fi

HALVIK_HOST_NETNS=$(readlink /proc/self/ns/net)
export HALVIK_HOST_NETNS

exec unshare -n -- bash -c '
set -euo pipefail
set_up() {
    ip link set lo up
    ip link add v0 type veth peer name v1
    ip link set v1 up
    ip addr add 10.77.0.1/24 dev v0
    for host in 2 3 4 50; do
        ip addr add "10.77.0.$host/24" dev v0
    done
    ip link set v0 up
    ip route add default dev v0 src 10.77.0.1
}
if ! why=$(set_up 2>&1); then
    echo "SKIPPED: cannot set up the interface inside the namespace: $why"
    exit 77
fi
exec "$@"
' broadcast_netns "$@"
