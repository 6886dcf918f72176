#!/usr/bin/env bash
# Configures and builds one configuration:
#   build.sh <dir> [extra cmake args...] [-- target...]
# Without targets, everything is built. Debug information is line tables only
# (enough for backtraces and sanitizer reports, a third less compile time);
# ccache is used when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  args+=("$1")
  shift
done
[ $# -eq 0 ] || shift
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  "${launcher[@]}" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(( $(nproc) + 1 ))" "${targets[@]}"
