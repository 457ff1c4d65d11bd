#!/bin/sh
# fennick --scan on the virtual stick: the lines, their order and the exit codes.
# Usage: scan_test.sh FENNICK ANT_LIBRARY
set -u
fennick=$1
library=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; cat "$dir/out" "$dir/err" 2>/dev/null; exit 1; }

cat >"$dir/world" <<'END'
seed 5
trainer 100 manufacturer=89 model=2875
trainer 200 manufacturer=32 period=8180 transmission=7
trainer 300 period=8200
hr 77
hr 78 transmission=3
END
"$fennick" --scan 3 --virtual-trainer="$dir/world" --ant-library "$library" >"$dir/out" 2>"$dir/err"
[ $? -eq 0 ] || fail "exit code with trainers"
[ "$(wc -l <"$dir/out")" -eq 5 ] || fail "five lines expected"
line='^(trainer|hr) [0-9]+ transmission=[0-9]+ manufacturer=([0-9]+|-) model=([0-9]+|-) fe=([0-9]+|-) rate=[0-9]+\.[0-9] heard=[0-9]+\.[0-9]$'
grep -Evq "$line" "$dir/out" && fail "a line out of format"
[ "$(cut -d' ' -f1 "$dir/out" | tr '\n' ' ')" = "trainer trainer trainer hr hr " ] || fail "trainers first"
grep -q '^trainer 200 transmission=7 manufacturer=32 ' "$dir/out" || fail "trainer 200's identity"
grep -q '^hr 78 transmission=3 ' "$dir/out" || fail "strap 78"

printf 'hr 77\n' >"$dir/straps"
"$fennick" --scan 3 --virtual-trainer="$dir/straps" --ant-library "$library" >"$dir/out" 2>"$dir/err"
[ $? -eq 1 ] || fail "exit code without a trainer"
grep -q '^hr 77 ' "$dir/out" || fail "the strap is still listed"
grep -q 'no FE-C trainer' "$dir/err" || fail "the reason on standard error"

"$fennick" --scan soon >"$dir/out" 2>"$dir/err"
[ $? -eq 2 ] || fail "exit code of a bad time"
echo "ok"
