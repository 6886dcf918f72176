#!/usr/bin/env bash
# Size and memory of the product on the target: footprint.sh [device build] [emulated build] [host build]
# - the stripped size of every AArch64 program and library of the device build
#   (target: 300 KB each);
# - the private resident memory of each daemon idling in the controller role
#   (Private_Clean + Private_Dirty of /proc/<pid>/smaps_rollup; target 1.5 MB),
#   on the host and under qemu-aarch64. Under emulation the figure includes the
#   emulator's own memory (its translation cache), so it is an upper bound.
# Needs root (a private network namespace for the broker's fixed port).
set -euo pipefail
cd "$(dirname "$0")/.."
device=${1:-build-aarch64-device}
emulated=${2:-build-aarch64}
host=${3:-build-normal}

if [ "${FOOTPRINT_IN_NETNS:-}" != 1 ]; then
  FOOTPRINT_IN_NETNS=1 exec unshare -n "$0" "$@"
fi
ip link set lo up

echo "== stripped size (target 300 KB)"
tmp=$(mktemp -d)
pids=()
cleanup() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT
find "$device" -path "$device/CMakeFiles" -prune -o -type f \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \) -print |
  while read -r f; do
    file -b "$f" | grep -q 'ELF 64-bit.*aarch64' || continue
    cp "$f" "$tmp/x" && aarch64-linux-gnu-strip "$tmp/x"
    size=$(stat -c %s "$tmp/x")
    verdict=ok; [ "$size" -le 307200 ] || verdict=OVER
    printf '%-40s %8d bytes  %s\n' "${f#"$device"/}" "$size" "$verdict"
  done | sort -u

private_kb() {
  awk '/^Private_(Clean|Dirty|Hugetlb):/ { kb += $2 } END { print kb }' "/proc/$1/smaps_rollup"
}

# idle_memory <label> <build> [emulator]: mast -r wlc idling against a broker.
idle_memory() {
  local label=$1 build=$2 emu=${3:-} root=$tmp/$1
  mkdir -p "$root/var/run/ubus" "$root/usr/bin"
  printf '#!/bin/sh\n' > "$root/usr/bin/wlc_init"; chmod +x "$root/usr/bin/wlc_init"
  local ubusd=$host/platform/ubusd ubus=$host/platform/ubus
  "$ubusd" -s "$root/var/run/ubus/ubus.sock" & pids+=($!)
  printf 'listener 1883 127.0.0.1\nallow_anonymous true\nuser root\n' > "$root/broker.conf"
  mosquitto -c "$root/broker.conf" >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 200); do [ -S "$root/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
  WLC_ROOT=$root PATH=$root/usr/bin:$PATH $emu "$build/mast/mast" -r wlc & local pid=$!
  pids+=($pid)
  for _ in $(seq 600); do "$ubus" -s "$root/var/run/ubus/ubus.sock" list mqtt.wlc >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 2 # settle into idling
  local kb; kb=$(private_kb "$pid")
  local verdict=ok; [ "$kb" -le 1536 ] || verdict=OVER
  printf '%-40s %8d KB  %s\n' "mast -r wlc ($label)" "$kb" "$verdict"
  kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; pids=()
}

echo "== private resident memory, idle (target 1.5 MB)"
idle_memory host "$host"
idle_memory aarch64-qemu "$emulated" qemu-aarch64
