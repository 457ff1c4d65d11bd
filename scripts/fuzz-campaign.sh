#!/usr/bin/env bash
# A fuzz campaign: builds the fuzz preset, runs every libFuzzer target on its seed corpus for
# SECONDS_PER_TARGET (default 600) or 10 million executions, whichever comes first, two at a
# time, merges the new inputs into the seed corpora (minimised with -merge=1) and prints a
# table. Crashes, leaks, time-outs and out-of-memory inputs are kept under build/fuzz/findings/.
#
#   scripts/fuzz-campaign.sh [SECONDS_PER_TARGET]
#
# FUZZ_JOBS (default 2) runs that many targets at once; FUZZ_TARGETS="a b" limits the targets.
set -euo pipefail

seconds=${1:-600}
jobs=${FUZZ_JOBS:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
out=$build/campaign
findings=$build/findings
cd "$root"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset fuzz "${launcher[@]}" >/dev/null

if [[ -n ${FUZZ_TARGETS:-} ]]; then
  read -r -a targets <<<"$FUZZ_TARGETS"
else
  mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[a-z0-9_]*\)$/\1/p' | sort)
fi
[[ ${#targets[@]} -gt 0 ]] || { echo "fuzz-campaign: no fuzz targets" >&2; exit 1; }
cmake --build "$build" --target "${targets[@]}" -j"$jobs" >"$build/campaign-build.log" 2>&1 ||
  { tail -30 "$build/campaign-build.log" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out" "$findings"
started=$out/started
touch "$started"

run_one() {
  local target=$1 seconds=$2 root=$3 build=$4 out=$5 findings=$6
  local exe seeds fresh log
  exe=$(find "$build" -type f -perm -u+x -name "$target" | head -1)
  seeds=$root/fuzz/corpus/$target
  fresh=$out/$target.new
  log=$out/$target.log
  mkdir -p "$seeds" "$fresh"
  local before
  before=$(find "$seeds" -type f | wc -l)
  # New inputs go to the first folder; the seeds are only read.
  "$exe" "$fresh" "$seeds" -max_total_time="$seconds" -runs=10000000 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" -close_fd_mask=3 >"$log" 2>&1 || true
  "$exe" -merge=1 "$seeds" "$fresh" >"$out/$target.merge.log" 2>&1 || true
  local after
  after=$(find "$seeds" -type f | wc -l)
  echo "$before $after" >"$out/$target.corpus"
}
export -f run_one

printf '%s\n' "${targets[@]}" |
  xargs -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$root" "$build" "$out" "$findings"

stat_of() { sed -n "s/^stat::$2: *//p" "$out/$1.log" | tail -1; }
printf '%-30s %12s %10s %9s %13s %8s\n' target executions exec/s features corpus findings
for t in "${targets[@]}"; do
  runs=$(stat_of "$t" number_of_executed_units)
  rate=$(stat_of "$t" average_exec_per_sec)
  features=$(grep -o 'ft: [0-9]*' "$out/$t.log" | tail -1 | cut -d' ' -f2)
  read -r before after <"$out/$t.corpus"
  found=$(find "$findings" -name "$t-*" -newer "$started" -type f | wc -l)
  printf '%-30s %12s %10s %9s %13s %8s\n' "$t" "${runs:-?}" "${rate:-?}" "${features:-?}" \
    "$before -> $after" "$found"
done
