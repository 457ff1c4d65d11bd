#!/usr/bin/env bash
# An hour-scale soak: fennick on the virtual stick served on a pseudo-terminal, with trainer
# dropouts, a strap that comes and goes, failing acknowledged transfers, a rider whose power
# changes every minute and the resistance-map burst every 5 minutes; fennick presses Connect
# and then a point every 30 s itself ($FENNICK_SOAK_PRESS_SECONDS). Everything is measured from
# outside the process: per minute the resident memory, CPU and wake-ups by thread group (from
# /proc) and the debug log's size; at the end every resistance level pressed against what the
# trainer received, and whether the window still answered.
#   bench/soak/soak.sh [BUILD_DIR]          (default build/default)
# FENNICK_SOAK_SECONDS: length (default 1800). FENNICK_SOAK_DIR: keep the files there (the
# scenario, fennick.log, trace.txt, host.log, minutes.txt). Exit code 0 when the targets are met.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/default}"
seconds="${FENNICK_SOAK_SECONDS:-1800}"
fennick="$build/app/fennick"
stick="$build/antsim/fennick-virtual-stick"
for p in "$fennick" "$stick"; do
  [ -x "$p" ] || { echo "soak: no $p; build fennick and fennick-virtual-stick first" >&2; exit 1; }
done
out="${FENNICK_SOAK_DIR:-$(mktemp -d /tmp/fennick-soak-XXXXXX)}"
mkdir -p "$out"
rm -f "$out"/{fennick.log,trace.txt,host.log,minutes.txt,stick.out,stick.err}

# shellcheck source=processes.sh
. "$here/processes.sh"

python3 "$here/scenario.py" "$seconds" "$out/host.log" >"$out/scenario.txt"
start_stick --scenario "$out/scenario.txt" --quit-after $((seconds + 120))
start_fennick 30 --trace "$out/trace.txt"

echo "soak: $seconds s, pid $app_pid on $pty, files in $out"
status=0
python3 "$here/monitor.py" "$app_pid" "$seconds" "$out/fennick.log" "$out/minutes.txt" || status=$?
# The last press may still wait for its verdict (a dropout); give it the time a rider would.
python3 "$here/check.py" --wait-last 25 "$out/fennick.log" "$out/host.log"
if ! kill -0 "$app_pid" 2>/dev/null; then
  echo "soak: fennick ended early:" >&2; tail -n 5 "$out/fennick.err" >&2; status=1
fi
# Stopped before the files are compared, so that none of them moves on meanwhile.
kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true
app_pid=""
python3 "$here/check.py" "$out/fennick.log" "$out/trace.txt" "$out/host.log" || status=$?
exit "$status"
