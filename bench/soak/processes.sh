# Sourced by the soak and flood runs: the virtual stick on a pty and fennick against it, both
# stopped when the script ends. Needs $build and $out; sets $stick_pid, $pty and $app_pid.
stick_pid=""
app_pid=""
stop_processes() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$stick_pid" ] && kill "$stick_pid" 2>/dev/null && wait "$stick_pid" 2>/dev/null
  true
}
trap stop_processes EXIT

# start_stick ARGS...: fennick-virtual-stick with ARGS; its terminal's path in $pty.
start_stick() {
  "$build/antsim/fennick-virtual-stick" "$@" >"$out/stick.out" 2>"$out/stick.err" &
  stick_pid=$!
  for _ in $(seq 100); do [ -s "$out/stick.out" ] && break; sleep 0.1; done
  pty="$(head -n1 "$out/stick.out")"
  [ -c "$pty" ] || { echo "$(basename "$0"): the virtual stick gave no terminal:" >&2; cat "$out/stick.err" >&2; exit 1; }
}

# start_fennick PRESS_SECONDS ARGS...: fennick on $pty, pressing a point every PRESS_SECONDS,
# its debug log in $out/fennick.log.
start_fennick() {
  local press=$1
  shift
  env -u FENNICK_VIRTUAL_TRAINER -u FENNICK_SCREENSHOT_DIR \
    QT_QPA_PLATFORM=offscreen FENNICK_ANT_SERIAL="$pty" FENNICK_SOAK_PRESS_SECONDS="$press" \
    "$build/app/fennick" --registry "$out/registry.reg" --history "$out/history.sqlite" \
    --log "$out/fennick.log" "$@" >"$out/fennick.out" 2>"$out/fennick.err" &
  app_pid=$!
}
