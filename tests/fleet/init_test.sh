#!/bin/sh
# fleetd's procd init script: its UCI settings become fleetd's options.
# Usage: init_test.sh <source dir>
set -eu
src=$1
feed=$src/openwrt/wlc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

sh -n "$feed/files/fleetd.init" || fail "fleetd.init is not valid shell"
run_init() {
	mkdir -p "$work/config"
	cp "$1" "$work/config/fleetd"
	UCI_CONFIG_DIR=$work/config sh -c \
		". '$src/tests/openwrt/procd_stub.sh'; . '$feed/files/fleetd.init'; start_service" | tr '\n' ' ' | sed 's/ | *$//'
}
expect() {
	[ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"
}

images="$work/www/firmware"
sed "s|'/www/firmware'|'$images'|" "$feed/files/fleetd.config" > "$work/defaults"
export UHTTPD=/usr/sbin/uhttpd
expect "$(run_init "$work/defaults")" \
	"/usr/sbin/fleetd -d /etc/fleet/fleet.db -n default -m manual -f $images -p 8443 -t 60 | /usr/sbin/uhttpd -f -h $images -s 8443 -C /etc/wlc-broker/ca/broker.crt -K /etc/wlc-broker/ca/broker.key -D -S" \
	"defaults"
[ -d "$images" ] || fail "the image directory was not made"
cat > "$work/site" <<UCI
config fleetd 'main'
	option database '/data/fleet/inventory.db'
	option site 'hq'
	option approval 'allow'
	list site_approval 'lab:auto'
	list site_approval 'branch:manual'
	option images '$work/images'
	option https_port '9443'
	option telemetry '0'
	option cert '/etc/fleet/https.crt'
	option key '/etc/fleet/https.key'
UCI
expect "$(run_init "$work/site")" \
	"/usr/sbin/fleetd -d /data/fleet/inventory.db -n hq -m allow -f $work/images -p 9443 -t 0 -m lab:auto -m branch:manual | /usr/sbin/uhttpd -f -h $work/images -s 9443 -C /etc/fleet/https.crt -K /etc/fleet/https.key -D -S" \
	"per site"
# Another server serves the directory: fleetd alone.
printf "\toption image_server '0'\n" >> "$work/site"
expect "$(run_init "$work/site")" \
	"/usr/sbin/fleetd -d /data/fleet/inventory.db -n hq -m allow -f $work/images -p 9443 -t 0 -m lab:auto -m branch:manual" \
	"without the image server"
echo "fleetd init: ok"
