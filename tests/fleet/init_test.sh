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
	UCI_CONFIG_DIR=$work/config RUN_DIR=$work/run PATH=$work/bin:$PATH sh -c \
		". '$src/tests/openwrt/procd_stub.sh'; . '$feed/files/fleetd.init'; start_service" | tr '\n' ' ' | sed 's/ | *$//'
}
# The host's system log is not the test's: logger here only fails.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 1\n' > "$work/bin/logger"
chmod +x "$work/bin/logger"
expect() {
	[ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"
}

images="$work/www/firmware"
sed "s|'/www/firmware'|'$images'|" "$feed/files/fleetd.config" > "$work/defaults"
export UHTTPD=/usr/sbin/uhttpd
# The broker's settings as shipped, with the password the first boot sets.
mkdir -p "$work/config"
sed "s|#option password ''|option password 's3cr3t'|" "$feed/files/wlc-broker.config" > "$work/config/wlc-broker"
grep -q "option password 's3cr3t'" "$work/config/wlc-broker" || fail "no password line in wlc-broker.config"
expect "$(run_init "$work/defaults")" \
	"/usr/sbin/fleetd -d /etc/fleet/fleet.db -n default -m manual -f $images -p 8443 -t 60 -b 1883 -u wlc -P $work/run/broker.pass | /usr/sbin/uhttpd -f -h $images -s 8443 -C /etc/wlc-broker/ca/broker.crt -K /etc/wlc-broker/ca/broker.key -D -S" \
	"defaults"
[ -d "$images" ] || fail "the image directory was not made"
[ "$(cat "$work/run/broker.pass")" = s3cr3t ] || fail "the tap's password file holds '$(cat "$work/run/broker.pass")'"
[ "$(stat -c %a "$work/run/broker.pass")" = 600 ] || fail "the tap's password file is readable by others"
# Another broker port; no controller password yet: no tap.
printf "\toption local_port '1884'\n" >> "$work/config/wlc-broker"
expect "$(run_init "$work/defaults")" \
	"/usr/sbin/fleetd -d /etc/fleet/fleet.db -n default -m manual -f $images -p 8443 -t 60 -b 1884 -u wlc -P $work/run/broker.pass | /usr/sbin/uhttpd -f -h $images -s 8443 -C /etc/wlc-broker/ca/broker.crt -K /etc/wlc-broker/ca/broker.key -D -S" \
	"tap on another port"
sed "s|option password 's3cr3t'|#option password ''|" "$feed/files/wlc-broker.config" > "$work/config/wlc-broker"
expect "$(run_init "$work/defaults" 2>"$work/stderr")" \
	"/usr/sbin/fleetd -d /etc/fleet/fleet.db -n default -m manual -f $images -p 8443 -t 60 | /usr/sbin/uhttpd -f -h $images -s 8443 -C /etc/wlc-broker/ca/broker.crt -K /etc/wlc-broker/ca/broker.key -D -S" \
	"tap without a controller password"
grep -q "the broker tap stays off" "$work/stderr" || fail "no word on the tap staying off"
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
