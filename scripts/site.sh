#!/usr/bin/env bash
# The main job: installs what is needed, builds, and runs a simulated device:
# its own root directory, our bus daemon, and the platform's "system" service
# stand-in, then asks them questions with the ubus tool as one would on a device.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/build.sh build-site -DWLC_TESTS=OFF -DWLC_BENCH=OFF

root=$(mktemp -d /tmp/wlc-site-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT

# A device root as the platform would lay it out.
mkdir -p "$root/tmp/sysinfo" "$root/etc" "$root/proc/sys/kernel" "$root/var/run/ubus"
echo "zev,ap1" > "$root/tmp/sysinfo/board_name"
echo "ZEV AP1" > "$root/tmp/sysinfo/model"
echo "ap1" > "$root/proc/sys/kernel/hostname"
echo "5.15.150" > "$root/proc/sys/kernel/osrelease"
printf 'processor\t: 0\nmodel name\t: ARMv8 Processor rev 4 (v8l)\n' > "$root/proc/cpuinfo"
cat > "$root/etc/openwrt_release" <<'REL'
DISTRIB_ID='OpenWrt'
DISTRIB_RELEASE='23.05.3'
DISTRIB_REVISION='r23809-234f1a2efa'
DISTRIB_TARGET='mediatek/filogic'
DISTRIB_DESCRIPTION='OpenWrt 23.05.3 r23809-234f1a2efa'
REL

export WLC_ROOT=$root WLC_LOG_STDERR=1
bin=build-site
"$bin/platform/ubusd" & pids+=($!)
for _ in $(seq 100); do [ -S "$root/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
"$bin/sim/sim_system" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list system >/dev/null 2>&1 && break; sleep 0.05; done

echo "== simulated device at $root"
echo "\$ ubus -v list"
"$bin/platform/ubus" -v list
echo "\$ ubus call system board"
"$bin/platform/ubus" call system board
