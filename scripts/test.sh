#!/usr/bin/env bash
# Installs what is needed, builds the normal and the sanitizer configuration,
# and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(( $(nproc) * 2 ))
status=0
for config in normal sanitize; do
  dir=build-$config
  extra=()
  [ "$config" = sanitize ] && extra=(-DWLC_SANITIZE=ON -DWLC_BENCH=OFF)
  echo "== $config: build"
  ./scripts/build.sh "$dir" "${extra[@]}"
  echo "== $config: test"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=1
done
exit $status
