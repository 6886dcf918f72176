#!/usr/bin/env bash
# The main job: installs what is needed, builds, and runs a simulated site:
# the device simulator with two access points, our bus daemon and the
# platform's "system" service on the first one, then asks them questions with
# the system's tools as one would on a device.
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

# Two simulated access points that hear each other; the simulator lays out
# their roots and answers their driver requests.
cat > "$root/site.json" <<SITE
{"devices": [
  {"name": "ap1", "root": "$root/ap1", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:c5", "serial": "SN0001"},
  {"name": "ap2", "root": "$root/ap2", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:d6", "serial": "SN0002"}],
 "hear": [{"a": "ap1", "b": "ap2", "rssi": -58}]}
SITE
bin=build-site
"$bin/sim/zev_sim" -c "$root/control.sock" "$root/site.json" & pids+=($!)
for _ in $(seq 100); do [ -S "$root/control.sock" ] && break; sleep 0.05; done

# On ap1: the bus daemon and the platform's "system" service.
export WLC_ROOT=$root/ap1 WLC_LOG_STDERR=1 PATH=$PWD/$bin/sim/bin:$PATH
mkdir -p "$root/ap1/proc/sys/kernel"
echo "ap1" > "$root/ap1/proc/sys/kernel/hostname"
echo "5.15.150" > "$root/ap1/proc/sys/kernel/osrelease"
printf 'processor\t: 0\nmodel name\t: ARMv8 Processor rev 4 (v8l)\n' > "$root/ap1/proc/cpuinfo"
"$bin/platform/ubusd" & pids+=($!)
for _ in $(seq 100); do [ -S "$root/ap1/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
"$bin/sim/sim_system" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list system >/dev/null 2>&1 && break; sleep 0.05; done

echo "== ap1: factory data through the layout file and the compiled-in table"
echo "\$ zev_factory r m lan";  "$bin/tools/zev_factory" r m lan
echo "\$ zev_factory r s sn";   "$bin/tools/zev_factory" r s sn
echo "\$ zev_factory c h crc";  "$bin/tools/zev_factory" c h crc
echo "\$ factory_dump r crc";   "$bin/tools/factory_dump" r crc
echo "\$ fw_printenv dual_boot.current_slot"; fw_printenv dual_boot.current_slot
echo "== the simulated world, scripted"
echo "\$ zev_simctl sta add ap1 ra0 aa:bb:cc:dd:ee:01 -52"
"$bin/sim/zev_simctl" "$root/control.sock" sta add ap1 ra0 aa:bb:cc:dd:ee:01 -52
echo "== ap1's bus"
echo "\$ ubus -v list"
"$bin/platform/ubus" -v list
echo "\$ ubus call system board"
"$bin/platform/ubus" call system board
