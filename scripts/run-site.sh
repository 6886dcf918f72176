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
  {"name": "ap1", "root": "$root/ap1", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:c5", "serial": "SN0001"},
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

# Certificates: a site CA, the broker's certificate issued by it, and ap1's
# client certificate (the broker requires one from every AP).
pki=$root/pki
mkdir -p "$pki"
ossl() { openssl "$@" 2>/dev/null; }
ossl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.crt" -days 2 -subj /CN=site-ca
for name in broker ap1; do
  ossl req -new -newkey rsa:2048 -nodes -keyout "$pki/$name.key" -out "$pki/$name.csr" -subj "/CN=$name"
  ossl x509 -req -in "$pki/$name.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial -out "$pki/$name.crt" -days 2
done

# The controller: the broker (plain for the controller, TLS for APs), a bus of
# its own, the AP database and log service stand-ins, mast, and a stand-in for
# the management services that approves joins and hands out VERSION and CONFIG.
ctl=$root/ctl
mkdir -p "$ctl/var/run/ubus" "$ctl/usr/bin" "$ctl/broker"
cat > "$ctl/broker/mosquitto.conf" <<CONF
per_listener_settings true
persistence false
user root
log_dest none
listener 1883 127.0.0.1
allow_anonymous true
listener 8883 127.0.0.1
allow_anonymous true
cafile $pki/ca.crt
certfile $pki/broker.crt
keyfile $pki/broker.key
require_certificate true
CONF
mosquitto -c "$ctl/broker/mosquitto.conf" & pids+=($!)
printf '#!/bin/sh\necho "wlc_init: controller initialised $*" >&2\n' > "$ctl/usr/bin/wlc_init"
chmod +x "$ctl/usr/bin/wlc_init"
export WLC_ROOT=$ctl
"$bin/platform/ubusd" & pids+=($!)
for _ in $(seq 100); do [ -S "$ctl/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
"$bin/sim/sim_db_ap" & pids+=($!)
"$bin/sim/sim_log" -r "$ctl/log.records" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list log >/dev/null 2>&1 && break; sleep 0.05; done
PATH=$ctl/usr/bin:$PATH "$bin/mast/mast" -r wlc 2>"$ctl/mast.log" & pids+=($!)
for _ in $(seq 200); do "$bin/platform/ubus" list mqtt.wlc >/dev/null 2>&1 && break; sleep 0.05; done
revision=$(sed -n "s/^DISTRIB_REVISION='\(.*\)'/\1/p" "$root/ap1/etc/openwrt_release")
"$bin/sim/sim_wlc_services" -r "$revision" -c '{"ssid":"site-wifi","channel":36}' & pids+=($!)

echo "== the controller"
echo "\$ ubus call mast status"; "$bin/platform/ubus" call mast status

# ap1 finds the controller through the DHCP client's file, joins it over TLS
# and is adopted. Its platform commands are recording stand-ins under its root.
ap=ap1-a3-b4-c5
mkdir -p "$root/ap1/data/ssl" "$root/ap1/tmp"
cp "$pki/ap1.crt" "$root/ap1/data/ssl/mqtt.crt"
cp "$pki/ap1.key" "$root/ap1/data/ssl/mqtt.key"
echo "127.0.0.1" > "$root/ap1/tmp/wlc_addr_dhcp"
echo '{"ssid":"factory"}' > "$root/ap1/tmp/running.config"
./sim/tools/platform-stubs.sh "$root/ap1"
export WLC_ROOT=$root/ap1
"$bin/sim/sim_log" & pids+=($!)
apdirs=$root/ap1/usr/sbin:$root/ap1/usr/bin:$root/ap1/sbin:$root/ap1/bin
PATH=$apdirs:$PWD/$bin/sim/bin "$bin/mast/mast" -r ap 2>"$root/ap1/mast.log" & pids+=($!)
echo "== ap1 joins and is adopted"
for _ in $(seq 600); do
  "$bin/platform/ubus" call mast status 2>/dev/null | grep -q '"adopted"' && break; sleep 0.05
done
echo "\$ ubus call mast status   (on ap1)"; "$bin/platform/ubus" call mast status
grep -E "DISCOVER: found|JOIN_RESP|Save|Status:|receive config" "$root/ap1/mast.log" | sed 's/^/  ap1 log: /'
export WLC_ROOT=$ctl
echo "\$ ubus call db.ap list   (on the controller)"; "$bin/platform/ubus" call db.ap list
echo "== the controller questions ap1; ap1's own mast asks its \"system\" service"
echo "\$ ubus call mqtt.wlc request_response '{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"system\",\"method\":\"board\"}}'"
"$bin/platform/ubus" call mqtt.wlc request_response "{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"system\",\"method\":\"board\"}}"
echo "== ap1's log reaches the controller's log service"
WLC_ROOT=$root/ap1 "$bin/platform/ubus" call log add '{"msg":"hello from ap1","priority":5}'
for _ in $(seq 100); do grep -q "hello from ap1" "$ctl/log.records" 2>/dev/null && break; sleep 0.05; done
echo "\$ cat log records (controller)"; grep "hello from ap1" "$ctl/log.records"
echo "== ap1 applies its configuration 10 s after it arrived"
for _ in $(seq 300); do grep -q ap_config_device "$root/ap1/stubs.log" 2>/dev/null && break; sleep 0.05; done
echo "\$ cat stubs.log (ap1)"; cat "$root/ap1/stubs.log"
echo "\$ cat applied.config (ap1)"; cat "$root/ap1/applied.config"; echo
