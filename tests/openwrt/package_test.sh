#!/bin/sh
# The OpenWrt feed: every file a package installs is produced by the CMake
# install rules; every init script is valid shell and turns its UCI settings
# into the command line they imply.
# Usage: package_test.sh <source dir> <build dir>
set -eu
src=$1
build=$2
feed=$src/openwrt/wlc
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 1. Installed files.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
for path in $(grep -o '$(PKG_INSTALL_DIR)/[^ ]*' "$feed/Makefile" | sed 's/^$(PKG_INSTALL_DIR)//' | sort -u); do
	# shellcheck disable=SC2086
	set -- $work/stage$path
	[ -e "$1" ] || fail "no file for $path in the install tree"
done
for file in $(grep -o '\./files/[^ ]*' "$feed/Makefile" | sort -u); do
	[ -f "$feed/$file" ] || fail "missing $file"
done

# Every part of the build but the tests and benchmarks is copied into the package's build tree.
for dir in $(sed -n 's/^[[:space:]]*add_subdirectory(\([^)]*\)).*/\1/p' "$src/CMakeLists.txt"); do
	case "$dir" in tests|bench) continue ;; esac
	grep -q "(WLC_SOURCE_DIR)/$dir " "$feed/Makefile" || fail "the package build does not copy $dir"
done

# 2. Init scripts.
for init in "$feed"/files/*.init; do
	sh -n "$init" || fail "$init is not valid shell"
done

# 3. Command lines. run_init <init> <uci file> [wlc_addr contents]
run_init() {
	mkdir -p "$work/config"
	cp "$2" "$work/config/$(basename "$1" .init)"
	rm -f "$work/wlc_addr"
	[ $# -lt 3 ] || printf '%s' "$3" > "$work/wlc_addr"
	UCI_CONFIG_DIR=$work/config WLC_ADDR=$work/wlc_addr sh -c \
		". '$src/tests/openwrt/procd_stub.sh'; . '$1'; start_service" | tr '\n' ' ' | sed 's/ | *$//; s/ |/;/g'
}
expect() {
	[ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"
}

init=$feed/files/mast.init
expect "$(run_init "$init" "$feed/files/mast.config")" "/usr/sbin/mast -r ap" "mast defaults"
expect "$(run_init "$init" "$feed/files/mast.config" "10.0.0.1:8883")" "/usr/sbin/mast -r ap -a -h 10.0.0.1:8883" \
	"mast joined"
cat > "$work/ap" <<'UCI'
config mast 'main'
	option role 'ap'
	option adopted '1'
	option enforced_auth '1'
	list broker 'wlc.example'
	list broker '10.0.0.2:9883'
	option site 'hq'
	list wlan 'wlan0'
	list wlan 'wlan1'
	list rrm_agent '1:hq'
	option username 'ignored on an AP'
UCI
expect "$(run_init "$init" "$work/ap")" \
	"/usr/sbin/mast -r ap -a -f -h wlc.example -h 10.0.0.2:9883 -s hq -w wlan0 -w wlan1 -g 1:hq" "mast ap"
cat > "$work/wlc" <<'UCI'
config mast 'main'
	option role 'wlc'
	option adopted '1'
	option username 'wlc'
	option password 'secret'
	option draft '1'
	list rrm_site 'hq'
	list rrm_site 'branch'
UCI
expect "$(run_init "$init" "$work/wlc" "10.0.0.1")" \
	"/usr/sbin/mast -r wlc -u wlc -p secret -d -m hq -m branch" "mast wlc"
init=$feed/files/iapp.init
expect "$(run_init "$init" "$feed/files/iapp.config")" "/usr/sbin/iapp" "iapp defaults"
cat > "$work/iapp" <<'UCI'
config iapp 'main'
	option site 'hq'
	list iface 'ra0:1:office'
	list iface 'rai0:2:guest'
UCI
expect "$(run_init "$init" "$work/iapp")" "/usr/sbin/iapp -s hq -i ra0:1:office -i rai0:2:guest" "iapp"
init=$feed/files/vigil.init
expect "$(run_init "$init" "$feed/files/vigil.config")" "/usr/sbin/vigil" "vigil defaults"
cat > "$work/vigil" <<'UCI'
config vigil 'main'
	list iface 'ra0:0:office'
	list iface 'ra1:1:guest'
UCI
expect "$(run_init "$init" "$work/vigil")" "/usr/sbin/vigil -i ra0:0:office -i ra1:1:guest" "vigil"
init=$feed/files/rrm_ctrl.init
expect "$(run_init "$init" "$feed/files/rrm_ctrl.config")" "" "rrm_ctrl defaults (disabled)"
cat > "$work/rrm_ctrl" <<'UCI'
config rrm_ctrl 'hq1'
	option site 'hq'
	option radio '1'
	list channel '1'
	list channel '6'
	option pwr_min '8'
	option sensitivity 'high'
config rrm_ctrl
	option enabled '0'
config rrm_ctrl 'hq2'
	option site 'hq'
	option radio '2'
	option policy 'dense'
	list channel '36'
	option roaming 'force'
UCI
expect "$(run_init "$init" "$work/rrm_ctrl")" \
	"/usr/sbin/rrm_ctrl -p default -s hq -b 1 -c 1 -c 6 -w 20 -l 8 -h 20 -n high -r graceful; /usr/sbin/rrm_ctrl -p dense -s hq -b 2 -c 36 -w 20 -l 10 -h 20 -n medium -r force" \
	"rrm_ctrl"
# Two sites: each instance keeps its store apart (a disabled section's site
# does not count); a section's own store option wins.
cat > "$work/rrm_ctrl" <<'UCI'
config rrm_ctrl 'hq1'
	option site 'hq'
	option radio '1'
	list channel '1'
config rrm_ctrl 'old'
	option enabled '0'
	option site 'closed'
config rrm_ctrl 'branch1'
	option site 'branch'
	option radio '1'
	list channel '6'
config rrm_ctrl 'hq2'
	option site 'hq'
	option radio '2'
	list channel '36'
	option store '/srv/rrm/hq2'
UCI
expect "$(run_init "$init" "$work/rrm_ctrl")" \
	"/usr/sbin/rrm_ctrl -p default -s hq -b 1 -c 1 -w 20 -l 10 -h 20 -n medium -r graceful -d /etc/wlc/rrm/site-hq/radio1; /usr/sbin/rrm_ctrl -p default -s branch -b 1 -c 6 -w 20 -l 10 -h 20 -n medium -r graceful -d /etc/wlc/rrm/site-branch/radio1; /usr/sbin/rrm_ctrl -p default -s hq -b 2 -c 36 -w 20 -l 10 -h 20 -n medium -r graceful -d /srv/rrm/hq2" \
	"rrm_ctrl, two sites"
# One site with the others disabled: the store stays where it always was.
cat > "$work/rrm_ctrl" <<'UCI'
config rrm_ctrl 'hq1'
	option site 'hq'
	list channel '1'
config rrm_ctrl 'old'
	option enabled '0'
	option site 'closed'
UCI
expect "$(run_init "$init" "$work/rrm_ctrl")" \
	"/usr/sbin/rrm_ctrl -p default -s hq -b 1 -c 1 -w 20 -l 10 -h 20 -n medium -r graceful" \
	"rrm_ctrl, one site enabled"
init=$feed/files/rrm_agent.init
expect "$(run_init "$init" "$feed/files/rrm_agent.config")" "" "rrm_agent defaults (disabled)"
cat > "$work/rrm_agent" <<'UCI'
config rrm_agent 'radio2'
	option site 'hq'
	option radio '2'
	list channel '36'
	list channel '40'
	option scan_relax '30'
	option power_control '0'
UCI
expect "$(run_init "$init" "$work/rrm_agent")" \
	"/usr/sbin/rrm_agent -p default -s hq -b 2 -c 36 -c 40 -i 50 -g 1 -r 30 -l" "rrm_agent"
init=$feed/files/wlc-broker.init
cat > "$work/wlc-broker" <<UCI
config wlc-broker 'main'
	option ca_dir '$work/ca'
	option host 'wlc.example'
	option address '127.0.0.1'
	option ap_port '9883'
	option local_port '1884'
	option password 'controller-pw'
UCI
export SITE_CA=$src/broker/site-ca.sh CONFIG_WRITER=$src/broker/broker-config.sh ACL_DIR=$src/broker RUN_DIR=$work/run
expect "$(run_init "$init" "$work/wlc-broker")" "/usr/sbin/mosquitto -c $work/run/mosquitto.conf" "wlc-broker"
conf=$work/run/mosquitto.conf
for line in "listener 1884 127.0.0.1" "listener 9883 127.0.0.1" "require_certificate true" \
	"use_identity_as_username true" "password_file $work/run/controller.passwd" "acl_file $src/broker/ap.acl" \
	"cafile $work/ca/ca.crt"; do
	grep -qx "$line" "$conf" || fail "wlc-broker: no '$line' in its configuration"
done
openssl x509 -in "$work/ca/broker.crt" -noout -ext subjectAltName | grep -q "DNS:wlc.example, IP Address:127.0.0.1" ||
	fail "wlc-broker: the broker's certificate is not for wlc.example and 127.0.0.1"
grep -q "^wlc:" "$work/run/controller.passwd" || fail "wlc-broker: no controller in the password file"
ca_before=$(cksum < "$work/ca/ca.crt")
run_init "$init" "$work/wlc-broker" >/dev/null
[ "$(cksum < "$work/ca/ca.crt")" = "$ca_before" ] || fail "wlc-broker: a second start replaced the site CA"
sed -i '/password/d' "$work/wlc-broker"
expect "$(run_init "$init" "$work/wlc-broker" 2>/dev/null)" "" "wlc-broker without a password"
unset SITE_CA CONFIG_WRITER ACL_DIR RUN_DIR

# First boot: the broker and the controller's mast get the same password.
cat > "$work/uci" <<'SH'
#!/bin/sh
# uci over a flat file of key=value lines.
db=$UCI_DB
case $1 in
	-q) shift ;;
esac
case $1 in
	get) sed -n "s/^$2=//p" "$db" 2>/dev/null ;;
	set) echo "$2" >> "$db" ;;
	commit) echo "commit $2" >> "$db" ;;
esac
SH
chmod +x "$work/uci"
UCI=$work/uci UCI_DB=$work/uci.db sh "$feed/files/wlc-broker.defaults" || fail "uci-defaults failed"
broker_pw=$(sed -n 's/^wlc-broker.main.password=//p' "$work/uci.db")
mast_pw=$(sed -n 's/^mast.main.password=//p' "$work/uci.db")
[ ${#broker_pw} -eq 30 ] && [ "$broker_pw" = "$mast_pw" ] || fail "uci-defaults: passwords '$broker_pw' and '$mast_pw'"
grep -qx "mast.main.username=wlc" "$work/uci.db" || fail "uci-defaults: mast has no user name"
lines=$(wc -l < "$work/uci.db")
UCI=$work/uci UCI_DB=$work/uci.db sh "$feed/files/wlc-broker.defaults"
[ "$(wc -l < "$work/uci.db")" -eq "$lines" ] || fail "uci-defaults: a second run changed the password"
echo "packages: ok"
