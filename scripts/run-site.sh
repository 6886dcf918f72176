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

# Four simulated access points, all on channel 6 of their 2.4 GHz radio, and
# who hears whom; the simulator lays out their roots and answers their driver
# requests.
cat > "$root/site.json" <<SITE
{"devices": [
  {"name": "ap1", "root": "$root/ap1", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:c5", "serial": "SN0001",
   "boot_slots": true, "cpu_load": 35},
  {"name": "ap2", "root": "$root/ap2", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:d6", "serial": "SN0002"},
  {"name": "ap3", "root": "$root/ap3", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:e7", "serial": "SN0003"},
  {"name": "ap4", "root": "$root/ap4", "model": "zev-ap1", "lan_mac": "00:11:22:a3:b4:f8", "serial": "SN0004",
   "revision": "r12001-0a1b2c"}],
 "hear": [{"a": "ap1", "b": "ap2", "rssi": -60}, {"a": "ap1", "b": "ap3", "rssi": -70},
          {"a": "ap2", "b": "ap3", "rssi": -80}, {"a": "ap3", "b": "ap4", "rssi": -60},
          {"a": "ap2", "b": "ap4", "rssi": -90}]}
SITE
"$bin/sim/zev_sim" -c "$root/control.sock" "$root/site.json" & pids+=($!)
for _ in $(seq 100); do [ -S "$root/control.sock" ] && break; sleep 0.05; done

# On ap1: the bus daemon and the platform's "system" service.
export WLC_ROOT=$root/ap1 WLC_LOG_STDERR=1 PATH=$PWD/$bin/sim/bin:$PATH
mkdir -p "$root/ap1/proc/sys/kernel"
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

# A console login on ap1: pamtester in the real PAM stack (a service file of
# its own through pam_wrapper) with our module, against the "session"
# service stand-in, which records the calls it gets.
pam=$root/pam
mkdir -p "$pam/pam.d" "$pam/run"
module=$PWD/$bin/pam_ubus_rpc/pam_ubus_rpc.so
printf 'auth required %s\naccount required %s\nsession required %s\n' "$module" "$module" "$module" > "$pam/pam.d/wlc-login"
echo '{"admin": {"answer": "granted", "password": "admin"}}' > "$pam/users.json"
"$bin/sim/sim_session" -u "$pam/users.json" -r "$pam/calls" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list session >/dev/null 2>&1 && break; sleep 0.05; done
echo "== a console login on ap1"
echo "\$ pamtester -v -I rhost=192.168.1.2 wlc-login admin authenticate open_session close_session"
echo admin | LD_PRELOAD=libpam_wrapper.so PAM_WRAPPER=1 PAM_WRAPPER_SERVICE_DIR="$pam/pam.d" \
  PAM_WRAPPER_RUNTIME_DIR="$pam/run" pamtester -v -I rhost=192.168.1.2 wlc-login admin \
  authenticate open_session close_session 2>&1 | grep -v '^PWRAP' || true
echo "(the session service's calls:)"; cat "$pam/calls"

# The site's certificate authority (broker/site-ca.sh): the broker's
# certificate, and each AP's client certificate, whose common name is the
# AP's device identifier (as a factory enrols it).
pki=$root/pki
./broker/site-ca.sh init "$pki" "site1 CA" >/dev/null
./broker/site-ca.sh broker "$pki" localhost 127.0.0.1 >/dev/null
ids=(ap1-a3-b4-c5 ap1-a3-b4-d6 ap1-a3-b4-e7 ap1-a3-b4-f8)
for i in 0 1 2 3; do
  ./broker/site-ca.sh ap "$pki" "${ids[$i]}" "$pki/ap$((i + 1))" >/dev/null
done

# The controller: the site's broker, locked down (broker/broker-config.sh:
# APs by certificate on 8883, each to its own topics; the controller by
# password on loopback), a bus of its own, fleetd (the AP inventory, "db.ap",
# join approval, configuration, firmware and commands; site1 approves every
# join at first), the HTTPS server for firmware images (lighttpd with TLS and
# the broker's certificate, which the APs pin, configured by fleetd; its
# broker tap, with the controller's password from a file, keeps the APs' last
# log lines and the last RRM commands for the site view), the log service
# stand-in and mast.
ctl=$root/ctl
mkdir -p "$ctl/var/run/ubus" "$ctl/usr/bin" "$ctl/broker" "$ctl/etc/fleet"
secret=$(openssl rand -hex 12)
mosquitto_passwd -c -b "$ctl/broker/controller.passwd" wlc "$secret"
(umask 077 && echo "$secret" > "$ctl/etc/fleet/broker.pass")
./broker/broker-config.sh --ca "$pki/ca.crt" --cert "$pki/broker.crt" --key "$pki/broker.key" \
  --passwd "$ctl/broker/controller.passwd" --acl-dir broker --ap-port 8883 --ap-address 127.0.0.1 \
  --log-file "$ctl/broker/broker.log" --user root > "$ctl/broker/mosquitto.conf"
mosquitto -c "$ctl/broker/mosquitto.conf" & pids+=($!)
printf '#!/bin/sh\necho "wlc_init: controller initialised $*" >&2\n' > "$ctl/usr/bin/wlc_init"
chmod +x "$ctl/usr/bin/wlc_init"
cp "$pki/broker.crt" "$pki/broker.key" "$ctl/etc/fleet/"
export WLC_ROOT=$ctl
"$bin/platform/ubusd" & pids+=($!)
for _ in $(seq 100); do [ -S "$ctl/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
fleetd() {
  "$bin/fleet/fleetd" -d /etc/fleet/fleet.db -n site1 -f /srv/firmware -p 8443 -t 30 \
    -w /etc/fleet/lighttpd.conf -c /etc/fleet/broker.crt -k /etc/fleet/broker.key \
    -b 1883 -u wlc -P /etc/fleet/broker.pass "$@" 2>>"$ctl/fleetd.log" &
  fleetd_pid=$!; pids+=($fleetd_pid)
}
fleetctl() { "$bin/fleet/fleetctl" "$@"; }
fleetd -m site1:auto
for _ in $(seq 100); do "$bin/platform/ubus" list fleet >/dev/null 2>&1 && break; sleep 0.05; done
lighttpd -D -f "$ctl/etc/fleet/lighttpd.conf" 2>"$ctl/lighttpd.log" & pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/8443) 2>/dev/null && break; sleep 0.05; done
"$bin/sim/sim_log" -r "$ctl/log.records" & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list log >/dev/null 2>&1 && break; sleep 0.05; done
PATH=$ctl/usr/bin:$PATH "$bin/mast/mast" -r wlc -u wlc -p "$secret" -m site1 2>"$ctl/mast.log" & pids+=($!)
for _ in $(seq 200); do "$bin/platform/ubus" list mqtt.wlc >/dev/null 2>&1 && break; sleep 0.05; done

echo "== the controller"
echo "\$ ubus call mast status"; "$bin/platform/ubus" call mast status
release=$(sed -n "s/^DISTRIB_RELEASE='\(.*\)'/\1/p" "$root/ap1/etc/openwrt_release")
revision=$(sed -n "s/^DISTRIB_REVISION='\(.*\)'/\1/p" "$root/ap1/etc/openwrt_release")
echo "== fleetd keeps the release the site runs as the retained VERSION the APs compare"
echo "\$ fleetctl rollout start --version $release --revision $revision"
fleetctl rollout start --version "$release" --revision "$revision"
for _ in $(seq 100); do grep -q "Send VERSION" "$ctl/fleetd.log" && break; sleep 0.05; done
grep -h "fleetd.notice: Send VERSION" "$ctl/fleetd.log" | sed 's/^/  fleetd log: /'

# Every AP finds the controller through the DHCP client's file, joins it
# over TLS and is adopted; its mast then also relays fast roaming (site
# "hq", WLAN "office") and RRM (radio 0 of site "site1"). Their platform
# commands are recording stand-ins under their roots.
ap=ap1-a3-b4-c5
apdirs() { echo "$1/usr/sbin:$1/usr/bin:$1/sbin:$1/bin"; }
for name in ap1 ap2 ap3 ap4; do
  r=$root/$name
  mkdir -p "$r/data/ssl" "$r/tmp" "$r/var/run/ubus"
  cp "$pki/$name/mqtt.crt" "$pki/$name/mqtt.key" "$r/data/ssl/"
  echo "127.0.0.1" > "$r/tmp/wlc_addr_dhcp"
  echo '{"ssid":"factory"}' > "$r/tmp/running.config"
  ./sim/tools/platform-stubs.sh "$r"
  if [ ! -S "$r/var/run/ubus/ubus.sock" ]; then
    WLC_ROOT=$r "$bin/platform/ubusd" & pids+=($!)
    for _ in $(seq 100); do [ -S "$r/var/run/ubus/ubus.sock" ] && break; sleep 0.05; done
  fi
done
export WLC_ROOT=$root/ap1
"$bin/sim/sim_log" & pids+=($!)
declare -A mast_pid
start_ap() {
  r=$root/$1
  WLC_ROOT=$r PATH=$(apdirs "$r"):$PWD/$bin/sim/bin "$bin/mast/mast" -r ap -s hq -w office -g 0:site1 \
    2>>"$r/mast.log" & pids+=($!)
  mast_pid[$1]=$!
}
ap_status() { WLC_ROOT=$root/$1 "$bin/platform/ubus" call mast status 2>/dev/null | grep -o '"status": "[a-z_]*"'; }
adopted() {
  for _ in $(seq 600); do [ "$(ap_status "$1")" = '"status": "adopted"' ] && break; sleep 0.05; done
}
apid() { echo "ap1-a3-b4-${macs[$1]}"; }
declare -A macs=([ap1]=c5 [ap2]=d6 [ap3]=e7 [ap4]=f8)
state_of() { WLC_ROOT=$ctl fleetctl list | awk -v id="$(apid "$1")" '$1 == id {print $3}'; }
echo "== the controller's fleetd approves the first two APs automatically (site1: auto)"
start_ap ap1; start_ap ap2
adopted ap1; adopted ap2
for _ in $(seq 200); do [ "$(state_of ap1)$(state_of ap2)" = adoptedadopted ] && break; sleep 0.05; done
echo "\$ fleetctl list"; WLC_ROOT=$ctl fleetctl list
grep -h "fleetd.notice: AP" "$ctl/fleetd.log" | sed 's/^/  fleetd log: /'

# The operator then locks site1 down: fleetd restarted with every join
# waiting for the operator ("manual"); its inventory stays. ap3 and ap4 wait,
# unanswered, until the operator approves them.
echo "== site1 now waits for the operator (fleetd restarted with site1: manual; the inventory stays)"
kill "$fleetd_pid"; wait "$fleetd_pid" 2>/dev/null || true
for _ in $(seq 100); do WLC_ROOT=$ctl "$bin/platform/ubus" list fleet >/dev/null 2>&1 || break; sleep 0.05; done
WLC_ROOT=$ctl fleetd -m site1:manual
for _ in $(seq 100); do WLC_ROOT=$ctl "$bin/platform/ubus" list fleet >/dev/null 2>&1 && break; sleep 0.05; done
start_ap ap3
for _ in $(seq 600); do [ "$(state_of ap3)" = pending ] && break; sleep 0.05; done
echo "\$ fleetctl list --state pending"; WLC_ROOT=$ctl fleetctl list --state pending
echo "ap3: $(ap_status ap3)   (unanswered)"
echo "\$ fleetctl approve $(apid ap3)"; WLC_ROOT=$ctl fleetctl approve "$(apid ap3)"
adopted ap3
for _ in $(seq 200); do [ "$(state_of ap3)" = adopted ] && break; sleep 0.05; done

# ap4 still runs an older revision than the site's release: once approved it
# waits for its firmware, which fleetd's rollout offers from the HTTPS
# server; the sysupgrade stand-in installs the image's release file, and
# ap4, started again as after its reboot, is back with the new revision.
old=$(sed -n "s/^DISTRIB_REVISION='\(.*\)'/\1/p" "$root/ap4/etc/openwrt_release")
start_ap ap4
for _ in $(seq 600); do [ "$(state_of ap4)" = pending ] && break; sleep 0.05; done
echo "\$ fleetctl approve $(apid ap4)"; WLC_ROOT=$ctl fleetctl approve "$(apid ap4)"
for _ in $(seq 600); do [ "$(ap_status ap4)" = '"status": "fw_update"' ] && break; sleep 0.05; done
echo "ap4: $(ap_status ap4)   (runs $old, the site runs $revision)"
export WLC_ROOT=$ctl
echo "\$ fleetctl list"; fleetctl list
echo "== ap4 upgraded from the controller's HTTPS server (lighttpd with TLS, serving fleetd's image directory)"
image=$root/image
mkdir -p "$image/etc" "$ctl/srv/firmware/$release"
sed "s/$old/$revision/g" "$root/ap4/etc/openwrt_release" > "$image/etc/openwrt_release"
tar -cf "$ctl/srv/firmware/$release/zev-ap1.bin" -C "$image" etc/openwrt_release
echo "\$ fleetctl firmware image $release/zev-ap1.bin --model zev-ap1"
fleetctl firmware image "$release/zev-ap1.bin" --model zev-ap1
echo "\$ fleetctl rollout start --version $release --revision $revision --parallel 1 --failures 1"
fleetctl rollout start --version "$release" --revision "$revision" --parallel 1 --failures 1
for _ in $(seq 600); do grep -q sysupgrade "$root/ap4/stubs.log" 2>/dev/null && break; sleep 0.05; done
grep -E "FIRMWARE|firmware" "$root/ap4/mast.log" | sed 's/^/  ap4 log: /'
echo "(ap4 reboots into the new image)"
kill "${mast_pid[ap4]}"; wait "${mast_pid[ap4]}" 2>/dev/null || true
for _ in $(seq 200); do [ "$(state_of ap4)" = offline ] && break; sleep 0.05; done
start_ap ap4
adopted ap4
echo "\$ fleetctl rollout show --watch"; fleetctl rollout show --watch
echo "\$ fleetctl show $(apid ap4)"; fleetctl show "$(apid ap4)"

echo "== the site broker lets only the site's APs and the controller in"
echo "\$ mosquitto_pub -p 8883 ... (TLS, no AP certificate)"
mosquitto_pub -h 127.0.0.1 -p 8883 --cafile "$pki/ca.crt" --insecure -t zev/wlc/control/ap/all/reboot -n 2>&1 | sed 's/^/  /' || true
echo "\$ mosquitto_pub -p 1883 ... (loopback, no controller password)"
mosquitto_pub -h 127.0.0.1 -p 1883 -t zev/wlc/control/ap/all/reboot -n 2>&1 | sed 's/^/  /' || true
export WLC_ROOT=$root/ap1
echo "\$ ubus call mast status   (on ap1)"; "$bin/platform/ubus" call mast status
grep -E "DISCOVER: found|JOIN_RESP|Save|Status:" "$root/ap1/mast.log" | sed 's/^/  ap1 log: /'
export WLC_ROOT=$ctl
echo "\$ fleetctl show $ap   (on the controller)"; fleetctl show "$ap"
echo "== the controller questions ap1; ap1's own mast asks its \"system\" service"
echo "\$ ubus call mqtt.wlc request_response '{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"system\",\"method\":\"board\"}}'"
"$bin/platform/ubus" call mqtt.wlc request_response "{\"ap_id\":\"$ap\",\"command\":\"ubus\",\"data\":{\"object\":\"system\",\"method\":\"board\"}}"
echo "== ap1's log reaches the controller's log service"
WLC_ROOT=$root/ap1 "$bin/platform/ubus" call log add '{"msg":"hello from ap1","priority":5}'
for _ in $(seq 100); do grep -q "hello from ap1" "$ctl/log.records" 2>/dev/null && break; sleep 0.05; done
echo "\$ cat log records (controller)"; grep "hello from ap1" "$ctl/log.records"

# A configuration change for the whole site: fleetd sends each adopted AP
# its merged configuration as CONFIG, each AP applies it 10 s after it
# arrived, and its reconfig answer tells fleetd the version it holds.
echo "== a configuration change for site1 reaches every AP"
echo "\$ fleetctl config set --site site1 --text '{\"ssid\":\"site-wifi\",\"channel\":36}' --reason 'site WLAN'"
fleetctl config set --site site1 --text '{"ssid":"site-wifi","channel":36}' --reason 'site WLAN'
for name in ap1 ap2 ap3 ap4; do
  for _ in $(seq 600); do grep -q ap_config_device "$root/$name/stubs.log" 2>/dev/null && break; sleep 0.05; done
done
echo "\$ cat stubs.log (ap1)"; cat "$root/ap1/stubs.log"
for name in ap1 ap2 ap3 ap4; do echo "applied.config ($name): $(cat "$root/$name/applied.config")"; done
confirmed() { fleetctl --json config show --ap "$(apid "$1")" | grep -q '"applied_version": '"$2"; }
version=$(fleetctl --json config show --site site1 | sed -n 's/.*"version": \([0-9]*\).*/\1/p' | head -1)
for name in ap1 ap2 ap3 ap4; do
  for _ in $(seq 600); do confirmed "$name" "$version" && break; sleep 0.05; done
done
for name in ap1 ap2 ap3 ap4; do
  echo "\$ fleetctl config show --ap $(apid "$name")"; fleetctl config show --ap "$(apid "$name")"
done

# A reboot sent through fleetd once ap4's agent listens for it (the broker's
# log shows the subscription); ap4's recording reboot stand-in gets it.
id4=$(apid ap4)
echo "== a reboot of ap4 through fleetctl, and the inventory"
for _ in $(seq 600); do grep -q "zev/wlc/control/ap/$id4/reboot" "$ctl/broker/broker.log" && break; sleep 0.05; done
echo "\$ fleetctl reboot $id4"; fleetctl reboot "$id4"
for _ in $(seq 200); do grep -q '^reboot' "$root/ap4/stubs.log" 2>/dev/null && break; sleep 0.05; done
echo "\$ cat stubs.log (ap4)"; cat "$root/ap4/stubs.log"
echo "\$ fleetctl list"; fleetctl list
echo "\$ fleetctl history $id4"; fleetctl history "$id4"

# Fast roaming: iapp on ap1 and ap2, meeting over the controller's broker
# through each AP's own mast.
unset WLC_LOG_STDERR
simctl() { "$bin/sim/zev_simctl" "$root/control.sock" "$@"; }
for ap in ap1 ap2; do
  r=$root/$ap
  WLC_ROOT=$r WLC_LOG_FILE=$r/roaming.log "$bin/iapp/iapp" -s hq -i ra0:1:office -i rai0:2:office & pids+=($!)
  for _ in $(seq 200); do
    WLC_ROOT=$r "$bin/platform/ubus" list iapp >/dev/null 2>&1 && [ "$(simctl events $ap)" = "ok 1" ] && break
    sleep 0.05
  done
done

sta=aa:bb:cc:dd:ee:42
echo "== fast roaming: a station joins ap1, and ap2 holds its key before the station arrives"
echo "\$ zev_simctl sta add ap1 ra0 $sta -60"; simctl sta add ap1 ra0 $sta -60
for _ in $(seq 200); do [ "$(simctl pmk list ap2)" = "ok ra0/$sta rai0/$sta" ] && break; sleep 0.05; done
echo "\$ zev_simctl pmk list ap2";  simctl pmk list ap2
echo "\$ zev_simctl pmk show ap2 ra0 $sta"; simctl pmk show ap2 ra0 $sta
echo "\$ zev_simctl pmk list ap1";  simctl pmk list ap1
echo "== the station moves to ap2, and ap1 lets it go"
echo "\$ zev_simctl sta add ap2 ra0 $sta -48 moved"; simctl sta add ap2 ra0 $sta -48 moved
for _ in $(seq 200); do simctl sta list ap1 | grep -q "$sta" || break; sleep 0.05; done
echo "\$ zev_simctl sta list ap1"; simctl sta list ap1
echo "\$ zev_simctl sta list ap2"; simctl sta list ap2
echo "== what iapp logged"
grep -h "iapp\." "$root/ap1/roaming.log" "$root/ap2/roaming.log" | grep -v "\.debug:" || true

# Radio resource management: rrm_ctrl on the controller, and on every AP an
# RRM agent for radio 0, whose reports and commands travel through the AP's
# own mast. Their own logs go to files.
echo "== radio resource management on site1, radio 0 (channels 1, 6, 11; power 10..20 dBm)"
channels="-c 1 -c 6 -c 11"
WLC_LOG_STDERR=0 WLC_LOG_FILE=$ctl/rrm_ctrl.log "$bin/rrm/rrm_ctrl" -p default -s site1 -b 0 $channels \
  -w 20 -n medium -r graceful -l 10 -h 20 & pids+=($!)
for _ in $(seq 100); do "$bin/platform/ubus" list rrm_ctrl.site1.0 >/dev/null 2>&1 && break; sleep 0.05; done
for ap in ap1 ap2 ap3 ap4; do
  r=$root/$ap
  WLC_ROOT=$r WLC_LOG_STDERR=0 WLC_LOG_FILE=$r/rrm.log "$bin/rrm/rrm_agent" -p default -s site1 -b 0 $channels \
    -i 50 -g 1 -r 1 -l -w & pids+=($!)
done
site_channels() { for ap in ap1 ap2 ap3 ap4; do simctl radio $ap 0 | cut -d' ' -f3; done | tr '\n' ' '; }
cost() { { "$bin/platform/ubus" call rrm_ctrl.site1.0 model 2>/dev/null || echo '"cost": none'; } | sed -n 's/.*"cost": \([0-9a-z]*\).*/\1/p'; }
echo "\$ ubus call rrm_ctrl.site1.0 config '{\"channel_timer\":10}'   # a channel step every 10 s"
"$bin/platform/ubus" call rrm_ctrl.site1.0 config '{"channel_timer":10}'
last=""
for _ in $(seq 120); do
  now="channels (ap1 ap2 ap3 ap4): $(site_channels)  model cost: $(cost)"
  [ "$now" != "$last" ] && echo "$now" && last=$now
  [ "$(site_channels)" = "6 11 1 6 " ] && [ "$(cost)" = "0" ] && break
  sleep 1
done
grep -h "send channel command" "$ctl/rrm_ctrl.log" | sed 's/^/  /'
echo "== the power plan (a power step every 5 s)"
"$bin/platform/ubus" call rrm_ctrl.site1.0 config '{"power_timer":5}' >/dev/null
for _ in $(seq 90); do simctl radio ap4 0 | grep -q "power 11" && break; sleep 1; done
grep -h "send power command" "$ctl/rrm_ctrl.log" | sed 's/^/  /'
echo "== the plan reached"
for ap in ap1 ap2 ap3 ap4; do echo "$ap: $(simctl radio $ap 0 | cut -d' ' -f2-)"; done
echo "\$ ubus call rrm_ctrl.site1.0 model"
"$bin/platform/ubus" call rrm_ctrl.site1.0 model

# The telemetry service on ap1, asked through ap1's bus (last: its channel
# selection moves ap1's radio). It runs as on the AP: with the AP's hostname,
# and its /data a file system of the flash's size.
export WLC_ROOT=$root/ap1
sim/tools/device-exec.sh "$root/ap1" "$bin/vigil/vigil" -i ra0:0:wlc -i rai0:0:wlc & pids+=($!)
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

# ---- The site view --------------------------------------------------------
# lighttpd serving the page and running the JSON-RPC gateway on the
# controller's bus, and the session service with two logins (an admin and a
# read-only viewer) and the page's access list. With WLC_SITE_WEB_SOCKET set
# (site.sh --keep) lighttpd also listens on that Unix socket, which site.sh
# forwards to the host's 127.0.0.1:8080, and the site runs until interrupted.
site_view() {
  local web=$ctl/siteview admin_pw viewer_pw sid
  mkdir -p "$web" "$ctl/etc/siteview" "$ctl/usr/share/rpcd/acl.d"
  cp siteview/acl/wlc-siteview.json "$ctl/usr/share/rpcd/acl.d/"
  admin_pw=$(openssl rand -hex 6); viewer_pw=$(openssl rand -hex 6)
  cat > "$ctl/etc/siteview/logins.json" <<LOGINS
{"logins": [
  {"username": "admin", "password": "$(openssl passwd -5 "$admin_pw")", "read": ["wlc-siteview-*"], "write": ["wlc-siteview-*"]},
  {"username": "viewer", "password": "$(openssl passwd -5 "$viewer_pw")", "read": ["wlc-siteview-read"], "write": []}]}
LOGINS
  WLC_ROOT=$ctl WLC_LOG_FILE=$ctl/siteview_session.log "$bin/siteview/siteview_session" & pids+=($!)
  for _ in $(seq 100); do "$bin/platform/ubus" list session >/dev/null 2>&1 && break; sleep 0.05; done
  "$bin/siteview/siteview_serve" -w "$PWD/siteview/www" -g "$PWD/$bin/siteview/siteview_gateway" -d "$web" \
    -p 8080 -s "$ctl/var/run/ubus/ubus.sock" ${WLC_SITE_WEB_SOCKET:+-u "$WLC_SITE_WEB_SOCKET"} & pids+=($!)
  for _ in $(seq 100); do curl -s -o /dev/null http://127.0.0.1:8080/ && break; sleep 0.05; done
  echo "== the site view: http://127.0.0.1:8080/  (admin / $admin_pw; read-only: viewer / $viewer_pw)"
  echo "\$ curl -d '{... \"session\", \"login\", {\"username\": \"viewer\", ...}}' http://127.0.0.1:8080/ubus"
  sid=$(curl -s -d '{"jsonrpc":"2.0","id":1,"method":"call","params":["00000000000000000000000000000000","session","login",{"username":"viewer","password":"'"$viewer_pw"'"}]}' \
    http://127.0.0.1:8080/ubus | sed -n 's/.*"ubus_rpc_session":"\([0-9a-f]*\)".*/\1/p')
  echo "  session $sid"
  echo "\$ curl -d '{... \"fleet\", \"list\" ...}' http://127.0.0.1:8080/ubus"
  curl -s -d '{"jsonrpc":"2.0","id":2,"method":"call","params":["'"$sid"'","fleet","list",{}]}' http://127.0.0.1:8080/ubus
  echo
  echo "\$ curl -d '{... \"fleet\", \"approve\" ...}' http://127.0.0.1:8080/ubus   (read-only: refused)"
  curl -s -d '{"jsonrpc":"2.0","id":3,"method":"call","params":["'"$sid"'","fleet","approve",{"id":"'"$(apid ap3)"'"}]}' \
    http://127.0.0.1:8080/ubus
  echo
  echo "\$ curl -d '{... \"fleet\", \"log_show\", {\"id\": \"$(apid ap1)\", \"lines\": 3}}' http://127.0.0.1:8080/ubus   (fleetd's broker tap)"
  curl -s -d '{"jsonrpc":"2.0","id":4,"method":"call","params":["'"$sid"'","fleet","log_show",{"id":"'"$(apid ap1)"'","lines":3}]}' \
    http://127.0.0.1:8080/ubus
  echo
  echo "\$ curl -d '{... \"fleet\", \"rrm_commands\", {\"site\": \"site1\", \"radio\": 0, \"limit\": 3}}' http://127.0.0.1:8080/ubus"
  curl -s -d '{"jsonrpc":"2.0","id":5,"method":"call","params":["'"$sid"'","fleet","rrm_commands",{"site":"site1","radio":0,"limit":3}]}' \
    http://127.0.0.1:8080/ubus
  echo
  if [ -n "${WLC_SITE_WEB_SOCKET:-}" ]; then
    echo "== the site keeps running: open http://127.0.0.1:8080/ on this host (Ctrl-C ends it)"
    trap 'exit 0' INT TERM  # the EXIT trap then stops the site and removes its files
    wait
  fi
}
site_view
