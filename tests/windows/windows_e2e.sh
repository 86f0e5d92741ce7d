#!/usr/bin/env bash
# The Windows programs end to end under Wine, on loopback: the host's vantor_sim serves two devices
# (Wine would send every reply from 127.0.0.1), vantor_manager.exe lists them over the loopback broadcast and launches quorvel.exe for one
# (never itself), vantorctl.exe runs a path and writes a results file with Windows line ends, and
# the GUI program's standard output reaches a file when redirected.
# Usage: windows_e2e.sh WINE_RUN BIN_DIR HOST_VANTOR_SIM
set -euo pipefail
run="$1"
bin="$2"
sim="$3"
work="$(mktemp -d)"
sim_pid=""
export QT_QPA_PLATFORM=offscreen
export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/halvik-windows/wineprefix}"
cleanup() {
    # The Quorvel that the manager launched runs on, and the manager waits for it. The test runs
    # alone, so every Quorvel and manager under Wine is this test's. The Wine server stays: the
    # other tests share it.
    pkill -KILL -f 'quorvel\.exe' 2>/dev/null || true
    pkill -KILL -f 'vantor_manager\.exe' 2>/dev/null || true
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

"$sim" --devices 2 --first-address 127.0.11.2 --port 4365 --verbose \
    >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
for _ in $(seq 400); do
    grep -q ready "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || fail "vantor_sim did not start"
    sleep 0.05
done
grep -q ready "$work/sim.out" || fail "vantor_sim not ready"

cd "$work"
"$run" "$bin/vantor_manager.exe" -platform offscreen --broadcast 127.255.255.255 --list \
    >list.txt 2>list.err || fail "vantor_manager.exe --list: $(cat list.err)"
tr -d '\r' <list.txt >list.lf
printf 'VNT0001\t127.0.11.2\nVNT0002\t127.0.11.3\n' >expected.txt
diff -u expected.txt list.lf || fail "vantor_manager.exe did not list the two devices"
echo "vantor_manager.exe --list: two devices"

# The launcher leaves the manager itself out and lists quorvel.exe.
status=0
"$run" "$bin/vantor_manager.exe" -platform offscreen --broadcast 127.255.255.255 \
    --launch vantor_manager.exe >launch-self.out 2>launch-self.err || status=$?
[ "$status" -eq 2 ] || fail "the manager offered itself (status $status): $(cat launch-self.err)"
# Under Wine the manager's process stays until the program it started ends, so it is not waited
# for: its report says whether the start succeeded.
"$run" "$bin/vantor_manager.exe" -platform offscreen --broadcast 127.255.255.255 \
    --launch quorvel.exe --device VNT0002 >launch.out 2>launch.err &
for _ in $(seq 300); do
    grep -q "launched pid\|did not start" launch.err && break
    sleep 0.1
done
grep -q "launched pid" launch.err || fail "quorvel.exe did not start: $(cat launch.err)"
tr -d '\r' <launch.out | diff -u <(printf 'VNT0002\nquorvel.exe\n') - ||
    fail "Launch did not write the serial and the program's name"
# The launched Quorvel greets its device and sets the acceleration.
for _ in $(seq 200); do
    grep -q "127.0.11.3:4365 <- .* VNSEAC" "$work/sim.log" && break
    sleep 0.1
done
grep -q "127.0.11.3:4365 <- .* VNSEAC" "$work/sim.log" ||
    fail "the launched quorvel.exe did not set the acceleration of 127.0.11.3"
echo "vantor_manager.exe --launch quorvel.exe: started for VNT0002"

# A path run from the command line: results file in the working folder, CRLF line ends.
printf '10,5\r\n20,-5,10,50\r\n' >path.csv
"$run" "$bin/vantorctl.exe" run-path 127.0.11.2 path.csv --delay 20 --delay2 20 >run.log ||
    fail "vantorctl.exe run-path: $(cat run.log)"
results=a10000_s10_d20ms.csv
[ -f "$results" ] || fail "no results file $results"
[ "$(wc -l <"$results")" -eq 3 ] || fail "results file: $(cat "$results")"
[ "$(grep -c $'\r$' "$results")" -eq 3 ] || fail "results file without CRLF line ends"
grep -q "Current error: " run.log || fail "no error line in the timing log"
echo "vantorctl.exe run-path: results file with CRLF line ends"

# A GUI program's standard output (Quorvel's timing log stream) reaches a redirected file.
"$run" "$bin/quorvel.exe" --version >version.txt 2>&1 || fail "quorvel.exe --version"
grep -q "^quorvel " version.txt || fail "quorvel.exe wrote nothing to its redirected output"
echo "quorvel.exe > file: $(tr -d '\r' <version.txt)"
