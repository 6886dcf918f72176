#!/usr/bin/env bash
# Runs the whole suite of a build several times on a loaded machine, to find
# tests that fail only sometimes: stress-tests.sh [rounds] [build dir] [hogs]
# Each round runs ctest at twice the cores while CPU hogs spin: one per core
# unless told (0 when other work already loads the machine).
# Prints each test that failed with how often; exits non-zero if any did.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
dir=${2:-build-normal}
[ -f "$dir/CTestTestfile.cmake" ] || { echo "no built tests in $dir (run scripts/build.sh $dir first)" >&2; exit 2; }

cores=$(nproc)
hog_count=${3:-$cores}
hogs=()
stop_hogs() { [ ${#hogs[@]} -eq 0 ] || kill "${hogs[@]}" 2>/dev/null || true; }
trap stop_hogs EXIT
for _ in $(seq "$hog_count"); do
  yes >/dev/null &
  hogs+=($!)
done

declare -A failures=()
for round in $(seq "$rounds"); do
  rm -f "$dir/Testing/Temporary/LastTestsFailed.log"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     ctest --test-dir "$dir" --output-on-failure -j $(( cores * 2 )) >"$dir/stress-round-$round.log" 2>&1; then
    echo "round $round: all passed"
    continue
  fi
  # Lines of the form "<number>:<test name>".
  while IFS=: read -r _ name; do
    [ -n "$name" ] && failures[$name]=$(( ${failures[$name]:-0} + 1 ))
  done < "$dir/Testing/Temporary/LastTestsFailed.log"
  echo "round $round: failures (see $dir/stress-round-$round.log)"
done

if [ ${#failures[@]} -eq 0 ]; then
  echo "no test failed in $rounds rounds"
  exit 0
fi
echo "failed tests (times out of $rounds rounds):"
for name in "${!failures[@]}"; do
  printf '%4d  %s\n' "${failures[$name]}" "$name"
done | sort -rn
exit 1
