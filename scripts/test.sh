#!/usr/bin/env bash
# Installs what is needed, builds and runs every test in three configurations:
#   normal    the bundled platform libraries;
#   sanitize  the same under AddressSanitizer and UndefinedBehaviorSanitizer;
#   platform  against platform libraries installed in a prefix as a device
#             provides them (here: the bundled ones, installed from the normal
#             build), with the platform's own ubusd and ubus.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(( $(nproc) * 2 ))
prefix=$PWD/build-platform-prefix
status=0
for config in normal sanitize platform; do
  start=$SECONDS
  dir=build-$config
  extra=()
  case $config in
    sanitize) extra=(-DWLC_SANITIZE=ON -DWLC_BENCH=OFF) ;;
    platform)
      rm -rf "$prefix"
      cmake --install build-normal --component platform --prefix "$prefix" >/dev/null
      extra=(-DCMAKE_PREFIX_PATH="$prefix" -DWLC_BENCH=OFF) ;;
  esac
  echo "== $config: build"
  ./scripts/build.sh "$dir" "${extra[@]}"
  if [ "$config" = platform ] && ls "$dir"/platform/libubox.so* "$dir"/platform/ubusd >/dev/null 2>&1; then
    echo "the platform configuration built the bundled libraries instead of using $prefix" >&2
    exit 1
  fi
  echo "== $config: test"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=1
  echo "== $config: $(( SECONDS - start )) s"
done
exit $status
