#!/usr/bin/env bash
# Runs fennick under Xvfb on the virtual trainer and saves a PNG of each moment of a tour into
# OUTDIR. fennick takes the pictures and presses the buttons itself ($FENNICK_SCREENSHOT_DIR);
# this script gives it a screen, an empty registry of its own and a time limit.
#   scripts/screenshots.sh [FENNICK [OUTDIR [ANT_LIBRARY [TOUR]]]]
# TOUR "calibration" (default, the built-in scenario): start-message, wait-dialog, calibrating,
# closing. TOUR "trainer-calibration": the trainer's own spin-down with a rider who follows
# its instructions: trainer-calibration-pedal, -coast, -result. TOUR "results": P1 and P2 on a
# rider who keeps pedalling, with the results window: results-calibrating, results-history
# (run it twice with one FENNICK_SCREENSHOT_HISTORY=FILE for a history of two sessions).
# TOUR "settings": the settings window alone, searching a world of three trainers (one leaves
# after 3 s) and two straps: settings-trainers, settings-invalid-point.
# FENNICK_SCREENSHOT_LOG=FILE keeps fennick's debug log there. Exits 77 (skipped) when Xvfb is
# not installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
fennick="${1:-$root/build/default/app/fennick}"
out="${2:-$root/build/default/screenshots}"
library="${3:-}"
tour="${4:-calibration}"
case "$tour" in
  calibration) moments=(start-message wait-dialog calibrating closing) ;;
  trainer-calibration) moments=(trainer-calibration-pedal trainer-calibration-coast trainer-calibration-result) ;;
  results) moments=(results-calibrating results-history) ;;
  settings) moments=(settings-trainers settings-invalid-point) ;;
  *) echo "screenshots: unknown tour '$tour'" >&2; exit 2 ;;
esac

if ! command -v Xvfb >/dev/null; then
  echo "screenshots: Xvfb is not installed (scripts/install-deps.sh installs it); skipped" >&2
  exit 77
fi
[ -x "$fennick" ] || { echo "screenshots: no fennick at $fennick; build it first" >&2; exit 1; }

work="$(mktemp -d /tmp/fennick-screenshots-XXXXXX)"
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshots: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }

mkdir -p "$out"
for m in "${moments[@]}"; do rm -f "$out/$m.png"; done
log="${FENNICK_SCREENSHOT_LOG:-$work/fennick.log}"
history="${FENNICK_SCREENSHOT_HISTORY:-$work/history.sqlite}"
args=(--registry "$work/registry.reg" --log "$log" --history "$history")
if [ "$tour" = trainer-calibration ]; then
  printf '%s\n' 'seed 1' 'trainer 4242 calibration=spindown calibration_required=spindown' \
    'rider 0 300 90 follows' >"$work/scenario.txt"
  args+=(--virtual-trainer="$work/scenario.txt" --trainer-calibration)
elif [ "$tour" = results ]; then
  printf '%s\n' 'seed 1' 'trainer 4242' 'rider 0 200 90' >"$work/scenario.txt"
  args+=(--virtual-trainer="$work/scenario.txt" --results)
elif [ "$tour" = settings ]; then
  printf '%s\n' 'seed 3' 'trainer 4711 manufacturer=255 model=2' \
    'trainer 31022 manufacturer=255 model=7 period=8180' 'trainer 602 manufacturer=301 model=11 period=8200' \
    'hr 77' 'hr 78 transmission=3' 'dropout 3 1000 trainer 602' 'rider 0 150 85' >"$work/scenario.txt"
  args+=(--virtual-trainer="$work/scenario.txt" --settings)
else
  args+=(--virtual-trainer)
fi
[ -n "$library" ] && args+=(--ant-library "$library")
run_tour() {
  status=0
  DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb FENNICK_SCREENSHOT_DIR="$out" \
    timeout 120 "$fennick" "${args[@]}" 2>"$work/stderr" || status=$?
  cat "$work/stderr" >&2
}
run_tour
# Under AddressSanitizer the leak check at exit stops every thread with ptrace; on a loaded
# machine its tracer itself can crash. That is the checker failing, not a leak: run once more.
if [ "$status" -ne 0 ] && grep -q "LeakSanitizer has encountered a fatal error" "$work/stderr"; then
  echo "screenshots: the leak checker itself failed at exit; running the tour once more" >&2
  run_tour
fi

missing=()
for m in "${moments[@]}"; do [ -s "$out/$m.png" ] || missing+=("$m"); done
if [ "$status" -ne 0 ] || [ ${#missing[@]} -ne 0 ]; then
  echo "screenshots: fennick ended with $status; missing: ${missing[*]:-none}; its log:" >&2
  tail -n 40 "$log" >&2 || true
  exit 1
fi
echo "screenshots: ${moments[*]} saved in $out"
