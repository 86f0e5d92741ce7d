#!/usr/bin/env bash
# Draws docs/plot.png from a real run: vantor_sim on 127.0.7.250, a path tracked with short and
# long dwell times (the short ones show the device still on its way), then vantorctl plot.
# Usage: tools/vantorctl/docplot.sh [BIN_DIR]   (default build/release/bin)
set -euo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
bin="$(cd "${1:-$root/build/release/bin}" && pwd)"
work="$(mktemp -d)"
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/vantor_sim" --first-address 127.0.7.250 --port 4365 --no-broadcast &
sim=$!
sleep 0.5

# Azimuth, elevation, speed, dwell (ms): a sweep across the sky, alternately settled and hurried.
cat > "$work/sweep.csv" <<'PATH'
20,0,3,400
45,12,3,80
70,20,3,400
95,25,3,80
120,20,3,400
145,10,3,80
170,0,3,400
195,-10,3,80
220,-20,3,400
245,-25,3,80
270,-20,3,400
295,-10,3,80
320,0,3,400
340,5,3,80
340,5,3,400
PATH

cd "$work"
"$bin/vantorctl" --stats run-path 127.0.7.250 sweep.csv --accel 2000 > run.log
"$bin/vantorctl" plot a2000_s10_d100ms.csv -o "$root/docs/plot.png"
tail -1 run.log
echo "wrote $root/docs/plot.png"
