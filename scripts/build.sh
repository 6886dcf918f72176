#!/usr/bin/env bash
# Configures and builds one configuration:
#   build.sh <dir> [extra cmake args...] [-- target...]
# Without targets, everything is built.
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
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
