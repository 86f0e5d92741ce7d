#!/usr/bin/env bash
# End to end on loopback: vantor_sim serves three devices, the real vantor_manager finds them over
# the loopback broadcast and launches the real quorvel for one, which greets that device and sets
# its acceleration. Usage: manager_e2e.sh BIN_DIR
set -euo pipefail
bin="$1"
export QT_QPA_PLATFORM=offscreen
work="$(mktemp -d)"
sim_pid=""
quorvel_pid=""
cleanup() {
    [ -n "$quorvel_pid" ] && kill "$quorvel_pid" 2>/dev/null || true
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- simulator log ---" >&2
    cat "$work/sim.log" >&2 || true
    exit 1
}

# quorvel always talks to port 4365, so the devices use it, on addresses of this test's own.
"$bin/vantor_sim" --devices 3 --first-address 127.0.9.2 --verbose >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q ready "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || fail "vantor_sim did not start"
    sleep 0.05
done

cd "$work"
"$bin/vantor_manager" --broadcast 127.255.255.255 --list >"$work/list.txt" 2>"$work/list.err" ||
    fail "vantor_manager --list: $(cat "$work/list.err")"
printf 'VNT0001\t127.0.9.2\nVNT0002\t127.0.9.3\nVNT0003\t127.0.9.4\n' >"$work/expected.txt"
diff -u "$work/expected.txt" "$work/list.txt" || fail "the table is not the three devices"
grep -qx "3 Vantors found" "$work/list.err" || fail "count text: $(cat "$work/list.err")"

"$bin/vantor_manager" --broadcast 127.255.255.255 --launch quorvel --device VNT0002 \
    >"$work/launch.out" 2>"$work/launch.err" || fail "launch: $(cat "$work/launch.err")"
printf 'VNT0002\nquorvel\n' | diff -u - "$work/launch.out" || fail "Launch did not write its two lines"
quorvel_pid="$(sed -n 's/^launched pid //p' "$work/launch.err")"
[ -n "$quorvel_pid" ] || fail "no pid: $(cat "$work/launch.err")"

for _ in $(seq 100); do
    grep -q '127.0.9.3:4365 <- .* VNSEAC 00002710' "$work/sim.log" && break
    sleep 0.05
done
grep -q '127.0.9.3:4365 <- .* VNPPPP' "$work/sim.log" || fail "no greeting reached 127.0.9.3"
grep -q '127.0.9.3:4365 <- .* VNSEAC 00002710' "$work/sim.log" || fail "no SetAcceleration reached 127.0.9.3"
if grep -Eq '127.0.9.[24]:4365 <- .* VNSEAC' "$work/sim.log"; then
    fail "quorvel talked to another device"
fi
echo "manager e2e: 3 devices listed, quorvel launched for VNT0002 greeted 127.0.9.3 and set its acceleration"
