#!/usr/bin/env bash
# Installs what is needed, builds and runs every test (test.sh [config...]):
#   platform  against platform libraries installed in a prefix as a device
#             provides them (here: the bundled ones, built and installed on
#             their own), with the platform's own ubusd and ubus, optimised
#             as a device build is, benchmarks built too;
#   sanitize  the bundled platform libraries built in the tree, under
#             AddressSanitizer and UndefinedBehaviorSanitizer;
#   fuzz      the fuzz targets and their replay test built with clang for
#             fuzzing; the saved fuzz inputs are replayed, and every fuzz
#             target runs for 5 seconds (scripts/fuzz.sh);
#   normal    the bundled libraries built in the tree, without sanitizers
#             (what the main job runs; not in the default list, since the
#             two above already build and test both ways of finding the
#             platform).
set -euo pipefail
cd "$(dirname "$0")/.."

configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(platform sanitize fuzz)
for config in "${configs[@]}"; do
  case $config in
    normal | sanitize | platform | fuzz) ;;
    *) echo "unknown configuration: $config (normal, sanitize, platform, fuzz)" >&2; exit 2 ;;
  esac
done

./scripts/install-deps.sh

jobs=$(( $(nproc) * 2 ))

prefix=$PWD/build-platform-prefix
status=0
for config in "${configs[@]}"; do
  start=$SECONDS
  dir=build-$config
  extra=()
  tests=()
  case $config in
    sanitize) extra=(-DWLC_SANITIZE=ON -DWLC_BENCH=OFF) ;;
    platform)
      echo "== platform: the bundled platform libraries, installed in $prefix"
      ./scripts/build.sh build-platform-libs -DWLC_TESTS=OFF -DWLC_SIM=OFF -DWLC_BENCH=OFF \
        -- ubox ubus blobmsg_json uci ubusd ubus_cli swconfig
      rm -rf "$prefix"
      cmake --install build-platform-libs --component platform --prefix "$prefix" >/dev/null
      extra=(-DCMAKE_PREFIX_PATH="$prefix") ;;
    fuzz)
      # Only the replays run here: the other tests run in the configurations
      # above, and programs built for fuzzing are not meant to load into
      # uninstrumented ones (the PAM module into pamtester).
      # Only what the replays and the fuzz runs need is built: the rest of
      # the tree is built and tested by the configurations above.
      extra=(-DWLC_FUZZ=ON -DWLC_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
        -- fuzz_targets fuzz_replay_test)
      tests=(-R '^FuzzReplay\.') ;;
  esac
  echo "== $config: build"
  ./scripts/build.sh "$dir" "${extra[@]}"
  if [ "$config" = platform ] && ls "$dir"/platform/libubox.so* "$dir"/platform/ubusd >/dev/null 2>&1; then
    echo "the platform configuration built the bundled libraries instead of using $prefix" >&2
    exit 1
  fi
  echo "== $config: test"
  ./scripts/seed-test-costs.sh "$dir"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${tests[@]}" || { status=1; ./scripts/machine-state.sh; }
  if [ "$config" = fuzz ]; then
    echo "== fuzz: 5 s per fuzz target"
    ./scripts/fuzz.sh 5 || status=1
  fi
  echo "== $config: $(( SECONDS - start )) s"
done
exit $status
