#!/usr/bin/env bash
# Starts vantor_sim with three devices on a free port, runs the scripted session against them
# through the real client and checks that the simulator stops cleanly on SIGTERM.
# Usage: vantor_sim_smoke.sh VANTOR_SIM VANTOR_SESSION
set -euo pipefail
sim="$1"
session="$2"
out="$(mktemp)"
pid=""
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; fi
    rm -f "$out"
}
trap cleanup EXIT

"$sim" --devices 3 --port 0 --serial-prefix SMOKE >"$out" &
pid=$!
for _ in $(seq 100); do
    grep -q ready "$out" && break
    sleep 0.1
done
cat "$out"
[ "$(grep -c '^device ' "$out")" = 3 ] || { echo "expected three devices"; exit 1; }
port="$(awk '/^device /{print $3; exit}' "$out")"

"$session" --port "$port" --expect 3 | tee -a "$out"
for n in 1 2 3; do
    grep -q "SMOKE000$n at 127.0.0.$((n + 1))" "$out" || { echo "device $n not found"; exit 1; }
done

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" = 0 ] || { echo "vantor_sim exited with $status on SIGTERM"; exit 1; }
grep -q "vantor_sim: stopped" "$out"
