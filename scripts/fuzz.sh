#!/usr/bin/env bash
# Runs every libFuzzer target for a while: fuzz.sh [seconds per target]
# (default 600), two at a time (FUZZ_JOBS to change).
#
# Builds the clang fuzzing build in build-fuzz when needed. Each target
# <name>_fuzz works on its own corpus, build-fuzz/fuzz-corpus/<name>/, started
# from the saved inputs in tests/data/fuzz/<name>/ and kept from run to run
# (the source tree is never written). Crashes, leaks, time-outs and
# out-of-memory inputs go to build-fuzz/fuzz-artifacts/<name>/, the fuzzer's
# output to build-fuzz/fuzz-logs/<name>.log. Prints per target the runs, the
# coverage reached (libFuzzer's cov and ft, with where the run started
# from in brackets), the corpus size and the findings;
# exits non-zero when any target found something.
#
# A finding is mended, then kept as a reproducer in tests/data/fuzz/<name>/
# (minimize it first: <name>_fuzz -minimize_crash=1 -runs=10000 <artifact>),
# where FuzzReplay.<name> replays it in every build.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
case $seconds in
  '' | *[!0-9]*) echo "usage: $0 [seconds per target]" >&2; exit 2 ;;
esac
dir=build-fuzz
jobs=${FUZZ_JOBS:-2}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWLC_FUZZ=ON -DWLC_BENCH=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target fuzz_targets >/dev/null

targets=()
for prog in "$dir"/tests/fuzz/*_fuzz; do
  [ -x "$prog" ] && [ -f "$prog" ] && targets+=("$(basename "$prog" _fuzz)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $dir (is it a -DWLC_FUZZ=ON build?)" >&2
  exit 1
fi

# One target for the given time; its exit status is kept for the table.
run_target() {
  local name=$1
  local corpus=$dir/fuzz-corpus/$name artifacts=$dir/fuzz-artifacts/$name log=$dir/fuzz-logs/$name.log
  mkdir -p "$corpus" "$dir/fuzz-logs"
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  if [ -d "tests/data/fuzz/$name" ]; then
    cp -n "tests/data/fuzz/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  local rc=0
  "$dir/tests/fuzz/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || rc=$?
  echo "$rc" >"$dir/fuzz-logs/$name.rc"
}

echo "== fuzzing ${#targets[@]} targets, ${seconds} s each, $jobs at a time"
running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
wait

# The table: libFuzzer's last status line gives cov, ft and runs.
status=0
printf '%-16s %12s %13s %13s %8s  %s\n' target runs 'cov (start)' 'ft (start)' corpus findings
for name in "${targets[@]}"; do
  log=$dir/fuzz-logs/$name.log
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  [ -n "$runs" ] || runs=$(sed -E -n 's/^#([0-9]+).*/\1/p' <<<"$last")
  cov=$(sed -E -n 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -E -n 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  # Where the run started from: the line after loading the corpus.
  inited=$(grep -E '^#[0-9]+[[:space:]]+INITED' "$log" | head -n 1 || true)
  cov0=$(sed -E -n 's/.* cov: ([0-9]+).*/\1/p' <<<"$inited")
  ft0=$(sed -E -n 's/.* ft: ([0-9]+).*/\1/p' <<<"$inited")
  corpus=$(find "$dir/fuzz-corpus/$name" -type f | wc -l)
  findings=$(find "$dir/fuzz-artifacts/$name" -type f -printf '%f\n' | sort | tr '\n' ' ')
  rc=$(cat "$dir/fuzz-logs/$name.rc")
  if [ -z "$findings" ] && [ "$rc" != 0 ]; then
    findings="exit status $rc (see $log)"
  fi
  [ -n "$findings" ] && status=1
  printf '%-16s %12s %13s %13s %8s  %s\n' "$name" "${runs:-?}" "${cov:-?} (${cov0:-?})" "${ft:-?} (${ft0:-?})" \
    "$corpus" "${findings:-none}"
done
exit $status
