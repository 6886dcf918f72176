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

expect "$(run_init "$feed/files/fleetd.config")" "/usr/sbin/fleetd -d /etc/fleet/fleet.db -n default -m manual" \
	"defaults"
cat > "$work/site" <<'UCI'
config fleetd 'main'
	option database '/data/fleet/inventory.db'
	option site 'hq'
	option approval 'allow'
	list site_approval 'lab:auto'
	list site_approval 'branch:manual'
UCI
expect "$(run_init "$work/site")" \
	"/usr/sbin/fleetd -d /data/fleet/inventory.db -n hq -m allow -m lab:auto -m branch:manual" "per site"
echo "fleetd init: ok"
