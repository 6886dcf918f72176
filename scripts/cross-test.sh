#!/usr/bin/env bash
# Builds the product for AArch64 and runs the test suite under qemu-aarch64:
#   build-aarch64         simulator seam, tests run emulated (ctest starts the
#                         test programs, the harness the programs they run,
#                         through CMAKE_CROSSCOMPILING_EMULATOR);
#   build-aarch64-device  the device seam, compiled and linked only (and
#                         checked to name no WLC_ROOT or WLC_LOG_* variable).
# cross-test.sh [ctest arguments...], e.g. cross-test.sh -R 'Wifi|Factory'
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-cross-deps.sh

toolchain=$PWD/cmake/toolchains/aarch64-linux-gnu.cmake
start=$SECONDS
echo "== aarch64 device seam: build"
./scripts/build.sh build-aarch64-device -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DWLC_DEVICE_SEAM=ON -DWLC_TESTS=OFF -DWLC_SIM=OFF -DWLC_BENCH=OFF
./scripts/check-device-env.sh build-aarch64-device
echo "== aarch64 device seam: $(( SECONDS - start )) s"

start=$SECONDS
echo "== aarch64 emulated: build"
./scripts/build.sh build-aarch64 -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DWLC_BENCH=OFF
echo "== aarch64 emulated: test"
./scripts/seed-test-costs.sh build-aarch64
status=0
ctest --test-dir build-aarch64 --output-on-failure -j $(( $(nproc) * 2 )) "$@" || {
  status=1
  ./scripts/machine-state.sh
}
echo "== aarch64 emulated: $(( SECONDS - start )) s"
exit $status
