#!/usr/bin/env bash
# Runs the simulated site (called by site.sh inside its own network namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
ip link set lo up
bin=build-site
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
  {"name": "ap1", "root": "$root/ap1", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:c5", "serial": "SN0001",
   "boot_slots": true, "cpu_load": 35},
  {"name": "ap2", "root": "$root/ap2", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:d6", "serial": "SN0002"}],
 "hear": [{"a": "ap1", "b": "ap2", "rssi": -58}]}
SITE
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
"$bin/sim/sim_network" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list system >/dev/null 2>&1 && break; sleep 0.05; done
for _ in $(seq 100); do "$bin/platform/ubus" list network.interface.con >/dev/null 2>&1 && break; sleep 0.05; done

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

# The telemetry service on ap1, asked through ap1's bus.
"$bin/vigil/vigil" -i ra0:0:wlc -i rai0:0:wlc & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list vigil >/dev/null 2>&1 && break; sleep 0.05; done
echo "== ap1's telemetry service"
echo "\$ ubus call vigil version"; "$bin/platform/ubus" call vigil version
echo "\$ ubus call vigil boot_slot"; "$bin/platform/ubus" call vigil boot_slot
echo "\$ ubus call vigil vlan"; "$bin/platform/ubus" call vigil vlan
echo "\$ ubus call vigil switchport"; "$bin/platform/ubus" call vigil switchport
echo "\$ ubus call vigil dns"; "$bin/platform/ubus" call vigil dns
echo "\$ ubus call vigil radio"; "$bin/platform/ubus" call vigil radio
echo "\$ ubus call vigil wireless_clients"; "$bin/platform/ubus" call vigil wireless_clients
echo "\$ ubus call vigil radio_scan '{\"radio\":0,\"ch_list\":[1,6,11],\"interval\":50}'"
"$bin/platform/ubus" -t 15 call vigil radio_scan '{"radio":0,"ch_list":[1,6,11],"interval":50}'
"$bin/sim/zev_simctl" "$root/control.sock" load 11 5 20 >/dev/null
echo "\$ ubus call vigil radio_acs '{\"radio\":0,\"alg\":\"qbss\",\"ch_list\":[1,6,11],\"force\":true}'"
"$bin/platform/ubus" -t 15 call vigil radio_acs '{"radio":0,"alg":"qbss","ch_list":[1,6,11],"force":true}'
echo "\$ ubus call vigil ntp   (no NTP server is reachable from the site)"
printf "config timeserver 'ntp'\n\tlist server '127.0.0.1'\n" > "$root/ap1/etc/config/system"
"$bin/platform/ubus" call vigil ntp
echo "\$ ubus call vigil send_file '{\"url\":\"file:///etc/passwd\",\"file\":\"/etc/openwrt_release\"}'   (refused)"
"$bin/platform/ubus" call vigil send_file '{"url":"file:///etc/passwd","file":"/etc/openwrt_release"}' || true
echo "(the CPU sampler takes a sample every 5 seconds; the simulated CPU runs at 35 %)"
sleep 11
echo "\$ ubus call vigil health"; "$bin/platform/ubus" call vigil health

# The controller: the broker, a bus of its own, the AP database stand-in and mast.
ctl=$root/ctl
mkdir -p "$ctl/var/run/ubus" "$ctl/usr/bin" "$ctl/broker"
printf 'listener 1883 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nlog_dest none\n' > "$ctl/broker/mosquitto.conf"
mosquitto -c "$ctl/broker/mosquitto.conf" & pids+=($!)
printf '#!/bin/sh\necho "wlc_init: controller initialised $*" >&2\n' > "$ctl/usr/bin/wlc_init"
chmod +x "$ctl/usr/bin/wlc_init"
export WLC_ROOT=$ctl
"$bin/platform/ubusd" & pids+=($!)
for _ in $(seq 100); do [ -S "$ctl/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
"$bin/sim/sim_db_ap" & pids+=($!)
PATH=$ctl/usr/bin:$PATH "$bin/mast/mast" -r wlc & pids+=($!)
for _ in $(seq 200); do "$bin/platform/ubus" list mqtt.wlc >/dev/null 2>&1 && break; sleep 0.05; done

ap=ap1-a3-b4-c5
enc() { "$bin/sim/blobmsg_encode" "$1"; }
echo "== the controller"
echo "\$ ubus call mast status"; "$bin/platform/ubus" call mast status
echo "== ap1 asks to join and reports itself online (played with mosquitto_pub)"
enc '{"fw_version":"1.2.3","fw_revision":"r12345-abcdef","model":"zev-ap1","serial":"SN0001","cert":"-----BEGIN CERTIFICATE-----","mac":"00:11:22:a3:b4:c5","hostname":"ap1"}' |
  mosquitto_pub -h 127.0.0.1 -t "zev/wlc/control/ap/$ap/join_request" -q 2 -s
enc '{"online":true,"model":"zev-ap1","fw_revision":"r12345-abcdef","ip":"192.168.1.10/24"}' |
  mosquitto_pub -h 127.0.0.1 -t "zev/wlc/control/ap/$ap/online" -q 2 -r -s
sleep 0.5
echo "\$ ubus call db.ap list"; "$bin/platform/ubus" call db.ap list
echo "== a controller service publishes through the bridge"
mosquitto_sub -h 127.0.0.1 -t 'zev/wlc/firmware/#' -C 1 -F '%t: %l bytes' & sub=$!
sleep 0.3
echo "\$ ubus call mqtt.wlc send '{\"path\":\"zev/wlc/firmware/version\",\"message\":{\"version\":\"1.2.4\"},\"qos\":2}'"
"$bin/platform/ubus" call mqtt.wlc send '{"path":"zev/wlc/firmware/version","message":{"version":"1.2.4"},"qos":2}'
wait $sub
echo "== and questions ap1 (its answer played with mosquitto_sub/pub)"
( mosquitto_sub -h 127.0.0.1 -t "zev/wlc/telemetry/ap/$ap/request/ubus" -C 1 >/dev/null
  enc '{"msg_id":0,"data":{"load":[12,8,5],"uptime":12345},"code":0}' |
    mosquitto_pub -h 127.0.0.1 -t "zev/wlc/telemetry/ap/$ap/response/ubus" -q 2 -r -s ) &
sleep 0.3
echo "\$ ubus call mqtt.wlc request_response '{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"vigil\",\"method\":\"health\"}}'"
"$bin/platform/ubus" call mqtt.wlc request_response "{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"vigil\",\"method\":\"health\"}}"
