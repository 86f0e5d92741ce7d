#!/usr/bin/env bash
# A lab network made of network namespaces, and the real programs on it:
#
#   lan   (namespace holding the bridge br0)
#    |-- mgr  10.77.1.1   vantor_manager, quorvel, lab_setip
#    |-- dev1 10.77.1.2   vantor_sim, serial LABA0001
#    |-- dev2 10.77.1.3   vantor_sim, serial LABB0001; also holds 10.77.1.50, its new address
#    `-- dev3 10.77.1.4   vantor_sim, serial LABC0001
#
# Everything runs on the default 255.255.255.255 broadcast, port 4365, inside those namespaces
# only. Discovery must find the three devices; the IP change moves LABB0001 to 10.77.1.50;
# discovery then finds it there; Quorvel started for 10.77.1.50 must greet that device and set
# its acceleration (seen in the device's --verbose log).
#
#   lab_network.sh <vantor_sim> <vantor_manager> <quorvel> <lab_setip>
#
# Exits 77 (reported as skipped) where no namespace can be made, for instance without root.
# The namespaces get names unique to this run and are always removed again.
set -uo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 <vantor_sim> <vantor_manager> <quorvel> <lab_setip>" >&2
    exit 2
fi
sim=$1
manager=$2
quorvel=$3
setip=$4

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*"
    exit 1
}

command -v ip >/dev/null || skip "ip (iproute2) is not installed"

run_id="hv$$$(printf '%04x' $((RANDOM)))"
lan="$run_id-lan"
hosts=(mgr dev1 dev2 dev3)
declare -A address=([mgr]=10.77.1.1 [dev1]=10.77.1.2 [dev2]=10.77.1.3 [dev3]=10.77.1.4)
declare -A prefix=([dev1]=LABA [dev2]=LABB [dev3]=LABC)
new_address=10.77.1.50
logs=$(mktemp -d)
pids=()

# Every process inside the namespaces of this run: only this script starts any there.
namespace_pids() {
    local h
    for h in "${hosts[@]}"; do
        ip netns pids "$run_id-$h" 2>/dev/null
    done
}

cleanup() {
    local left
    for pid in "${pids[@]}" $(namespace_pids); do
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    for _ in $(seq 50); do
        left=$(namespace_pids)
        [ -z "$left" ] && break
        sleep 0.1
    done
    for pid in $left; do
        kill -KILL "$pid" 2>/dev/null
    done
    # A namespace outlives its removal while a process is still in it: remove it only now.
    for h in "${hosts[@]}"; do
        ip netns del "$run_id-$h" 2>/dev/null
    done
    ip netns del "$lan" 2>/dev/null
    if [ -n "${KEEP_LOGS:-}" ]; then
        echo "logs kept in $logs"
    else
        rm -rf "$logs"
    fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if ! why=$(ip netns add "$lan" 2>&1); then
    skip "cannot create a network namespace with 'ip netns add' (needs root): $why"
fi

# Runs a program on one host; `ip netns exec` becomes the program, so a `&` in front of it
# gives the program's own pid.
in_ns() {
    local host=$1
    shift
    ip netns exec "$run_id-$host" "$@"
}

set_up() {
    ip -n "$lan" link add br0 type bridge || return 1
    ip -n "$lan" link set br0 up || return 1
    local h
    for h in "${hosts[@]}"; do
        ip netns add "$run_id-$h" || return 1
        ip -n "$lan" link add "p-$h" type veth peer name eth0 netns "$run_id-$h" || return 1
        ip -n "$lan" link set "p-$h" master br0 up || return 1
        ip -n "$run_id-$h" link set lo up || return 1
        ip -n "$run_id-$h" addr add "${address[$h]}/24" dev eth0 || return 1
        ip -n "$run_id-$h" link set eth0 up || return 1
        # The limited broadcast needs a route; this one leads onto the bridge and nowhere else.
        ip -n "$run_id-$h" route add default dev eth0 || return 1
    done
    # Where the moved device's host will answer after the IP change.
    ip -n "$run_id-dev2" addr add "$new_address/24" dev eth0 || return 1
}
if ! why=$(set_up 2>&1); then
    skip "cannot build the lab network: $why"
fi

# The bridge forwards at once (no spanning tree); a ping shows the segment works before the
# programs run on it.
if command -v ping >/dev/null; then
    in_ns mgr ping -c 1 -W 5 "${address[dev1]}" >/dev/null 2>&1 ||
        fail "the manager's host cannot reach dev1 over the bridge"
fi

for h in dev1 dev2 dev3; do
    ip netns exec "$run_id-$h" "$sim" --first-address "${address[$h]}" --devices 1 \
        --serial-prefix "${prefix[$h]}" --noise 0 --verbose >"$logs/$h.out" 2>"$logs/$h.log" &
    pids+=($!)
done
for h in dev1 dev2 dev3; do
    for _ in $(seq 100); do
        grep -q "ready" "$logs/$h.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q "ready" "$logs/$h.out" || fail "vantor_sim on $h did not start: $(cat "$logs/$h.log")"
done

export QT_QPA_PLATFORM=offscreen
list() {
    in_ns mgr "$manager" --list 2>"$logs/list.err"
}

echo "== discovery on 255.255.255.255"
found=$(list) || fail "vantor_manager --list found nothing: $(cat "$logs/list.err")"
echo "$found"
expected=$(printf 'LABA0001\t10.77.1.2\nLABB0001\t10.77.1.3\nLABC0001\t10.77.1.4')
[ "$found" = "$expected" ] || fail "expected the three devices, got: $found"
grep -q "3 Vantors found" "$logs/list.err" || fail "no count shown: $(cat "$logs/list.err")"

echo "== IP change of LABB0001 to $new_address"
in_ns mgr "$setip" LABB0001 "$new_address" || fail "the IP change failed"
grep -q "VNSIPC" "$logs/dev2.log" ||
    fail "dev2 never saw the IP change"

echo "== discovery after the change"
found=$(list) || fail "vantor_manager --list found nothing: $(cat "$logs/list.err")"
echo "$found"
expected=$(printf 'LABA0001\t10.77.1.2\nLABB0001\t%s\nLABC0001\t10.77.1.4' "$new_address")
[ "$found" = "$expected" ] || fail "expected LABB0001 at $new_address, got: $found"

echo "== quorvel for $new_address"
ip netns exec "$run_id-mgr" "$quorvel" "$new_address" >"$logs/quorvel.out" \
    2>"$logs/quorvel.err" &
quorvel_pid=$!
pids+=("$quorvel_pid")
greeted=""
for _ in $(seq 200); do
    if grep -q "$new_address:4365 <- ${address[mgr]}:[0-9]* VNSEAC" "$logs/dev2.log"; then
        greeted=yes
        break
    fi
    sleep 0.1
done
[ -n "$greeted" ] || fail "quorvel's SEAC never reached $new_address: $(cat "$logs/quorvel.err")"
grep -q "$new_address:4365 <- ${address[mgr]}:[0-9]* VNPPPP" "$logs/dev2.log" ||
    fail "quorvel's greeting did not reach $new_address"
kill -0 "$quorvel_pid" 2>/dev/null || fail "quorvel ended: $(cat "$logs/quorvel.err")"
grep -q "$new_address:4365 -> ${address[mgr]}:[0-9]* EASEAC" "$logs/dev2.log" ||
    fail "the device did not acknowledge quorvel's SEAC"
grep "<- ${address[mgr]}" "$logs/dev2.log" | grep -v "(broadcast)" | sed 's/^/dev2: /'
for h in dev1 dev3; do
    if grep -q "VNSEAC" "$logs/$h.log"; then
        fail "$h received quorvel's command"
    fi
done

echo "PASSED: three devices found, LABB0001 moved to $new_address, quorvel drove it there"
exit 0
