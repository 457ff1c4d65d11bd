#!/usr/bin/env bash
# A stick that babbles for a minute: fennick on the pty virtual stick, which floods from 10 s on
# for FENNICK_FLOOD_SECONDS (default 60) with KIND (valid: its newest data frames again and
# again, a serial error among them; garbage: bytes that hold no frame) at RATE (max: as fast as
# fennick reads; line: the line speed; or bytes a second). fennick presses a point every 3 s.
# Reports per 10 s the resident memory and CPU, then the presses' delays, the dropped-row
# reports, the serial-error lines and the log's size.
#   bench/soak/flood.sh [BUILD_DIR] [KIND] [RATE]      (default build/default valid max)
# FENNICK_FLOOD_DIR: keep the files there. Exit code 0 when memory stayed within 2 MB after the
# first 10 s of flood, every press changed the labels within 1 s and at most 16 serial errors
# were written.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-$root/build/default}"
kind="${2:-valid}"
rate="${3:-max}"
flood="${FENNICK_FLOOD_SECONDS:-60}"
seconds=$((flood + 20))
out="${FENNICK_FLOOD_DIR:-$(mktemp -d /tmp/fennick-flood-XXXXXX)}"
mkdir -p "$out"
rm -f "$out"/{fennick.log,fennick.err,stick.out,stick.err,samples.txt}
# shellcheck source=processes.sh
. "$here/processes.sh"

start_stick --flood "$kind" --flood-at 10 --flood-for "$flood" --flood-rate "$rate" --quit-after $((seconds + 30))
start_fennick 3

echo "flood: $kind at $rate for $flood s from 10 s; files in $out"
printf '%4s %8s %7s %8s\n' s rss_MB cpu_s log_MB
for s in $(seq 10 10 "$seconds"); do
  sleep 10
  kill -0 "$app_pid" 2>/dev/null || { echo "flood: fennick ended early" >&2; exit 1; }
  rss=$(awk '/^VmRSS/{printf "%.1f", $2/1024}' "/proc/$app_pid/status")
  cpu=$(awk -v hz="$(getconf CLK_TCK)" '{printf "%.1f", ($14+$15)/hz}' "/proc/$app_pid/stat")
  log=$(du -m "$out/fennick.log" | cut -f1)
  printf '%4d %8s %7s %8s\n' "$s" "$rss" "$cpu" "$log" | tee -a "$out/samples.txt"
done
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
app_pid=""

python3 - "$out" <<'PY'
import re, sys
out = sys.argv[1]
rows = [l.split() for l in open(f"{out}/samples.txt")]
rss = {int(r[0]): float(r[1]) for r in rows}
settled = rss[30] if 30 in rss else min(rss.values())
growth = max(v for s, v in rss.items() if s >= 30) - settled
log = open(f"{out}/fennick.log", errors="replace").read().splitlines()
delays = [int(m.group(1)) for l in log if (m := re.search(r"labels changed after (\d+) ms", l))]
unchanged = sum("labels unchanged" in l for l in log)
drops = [l for l in log if "received ANT messages" in l]
err = open(f"{out}/fennick.err", errors="replace").read()
serial = err.count("stick reports serial error")
print(f"memory: {growth:+.2f} MB from 30 s on (target under 2 MB)")
print(f"presses: {len(delays)} answered, slowest {max(delays, default=-1)} ms, {unchanged} unchanged (target: all within 1000 ms)")
print(f"dropped-row reports: {len(drops)}" + (f", last: {drops[-1]}" if drops else ""))
print(f"serial-error lines: {serial} (limit 16)")
ok = growth < 2 and delays and max(delays) < 1000 and unchanged == 0 and serial <= 16
sys.exit(0 if ok else 1)
PY
