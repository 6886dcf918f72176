#!/usr/bin/env bash
# Size and memory of the product on the target: footprint.sh [device build] [emulated build] [host build]
# - the stripped size of every AArch64 program and library of the device build
#   (target: 300 KB each);
# - the private resident memory of each daemon idling on a simulated device
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

tmp=$(mktemp -d)
pids=()
cleanup() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"; }
trap cleanup EXIT

echo "== stripped size (target 300 KB)"
[ -d "$device" ] || echo "(no device build in $device)"
[ ! -d "$device" ] || find "$device" -path "$device/CMakeFiles" -prune -o -type f \( -name '*.so' -o -name '*.so.*' -o -perm -u+x \) -print |
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

# measure <label> <object> <command...>: starts a daemon, waits for its bus
# object, lets it settle into idling and prints its private resident memory.
measure() {
  local label=$1 object=$2; shift 2
  "$@" & local pid=$!
  pids+=($pid)
  for _ in $(seq 600); do "$host/platform/ubus" list "$object" >/dev/null 2>&1 && break; sleep 0.1; done
  sleep 2
  local kb; kb=$(private_kb "$pid")
  local verdict=ok; [ "$kb" -le 1536 ] || verdict=OVER
  printf '%-40s %8d KB  %s\n' "$label" "$kb" "$verdict"
}

# idle_memory <label> <build> [emulator]: every daemon idling on one simulated
# device (the simulator, bus daemon and broker are the host's).
idle_memory() {
  local label=$1 build=$2 emu=${3:-} site=$tmp/$1
  local root=$site/ap1
  mkdir -p "$site"
  printf '{"devices": [{"name": "ap1", "root": "%s"}], "hear": []}\n' "$root" > "$site/site.json"
  "$host/sim/zev_sim" -c "$site/control.sock" "$site/site.json" & pids+=($!)
  for _ in $(seq 200); do [ -S "$site/control.sock" ] && break; sleep 0.05; done
  mkdir -p "$root/var/run/ubus" "$root/usr/bin"
  printf '#!/bin/sh\n' > "$root/usr/bin/wlc_init"; chmod +x "$root/usr/bin/wlc_init"
  export WLC_ROOT=$root
  "$host/platform/ubusd" & pids+=($!)
  printf 'listener 1883 127.0.0.1\nallow_anonymous true\nuser root\n' > "$site/broker.conf"
  mosquitto -c "$site/broker.conf" >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 200); do [ -S "$root/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
  local channels="-c 1 -c 6 -c 11"
  PATH=$root/usr/bin:$PATH measure "mast -r wlc ($label)" mqtt.wlc $emu "$build/mast/mast" -r wlc
  measure "vigil ($label)" vigil $emu "$build/vigil/vigil" -i ra0:0:wlc
  measure "iapp ($label)" iapp $emu "$build/iapp/iapp" -s site1 -i ra0:1:office
  # shellcheck disable=SC2086
  measure "rrm_ctrl ($label)" rrm_ctrl.site1.1 $emu "$build/rrm/rrm_ctrl" -p default -s site1 -b 1 $channels \
    -w 20 -n medium -r graceful -l 10 -h 20
  # shellcheck disable=SC2086
  measure "rrm_agent ($label)" rrm_agent.0 $emu "$build/rrm/rrm_agent" -p default -s site1 -b 0 $channels \
    -i 50 -g 1 -r 60 -l -w
  kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; pids=()
  unset WLC_ROOT
}

echo "== private resident memory, idle (target 1.5 MB)"
idle_memory host "$host"
if [ -d "$emulated" ]; then
  idle_memory aarch64-qemu "$emulated" qemu-aarch64
else
  echo "(no emulated build in $emulated)"
fi
