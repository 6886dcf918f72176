#!/bin/sh
# Installs recording stand-ins for the platform commands that mast runs into
# a simulated device root: each appends its name and arguments to
# <root>/stubs.log. sysupgrade keeps a copy of the image it was given
# (<root>/sysupgrade.img) and, when the image is a tar archive holding
# etc/openwrt_release, installs that file (the device boots into the new
# revision once its mast is started again); ap_config_device of the configuration
# (<root>/applied.config). mast finds commands only under the device root,
# so these are the only firstboot, reboot and sysupgrade it can ever reach.
# The route lookup uses the host's own ip tool (it changes nothing).
#   platform-stubs.sh <root> [<command> <exit status>]...
set -e
root=$1
shift
mkdir -p "$root/sbin" "$root/usr/sbin" "$root/etc/init.d"
stub() {
	path=$1 status=$2 extra=$3
	cat > "$path" <<STUB
#!/bin/sh
PATH=/usr/bin:/bin
$extra
echo "\$(basename "\$0")\${*:+ \$*}" >> "$root/stubs.log"
exit $status
STUB
	chmod 755 "$path"
}
status_of() {
	want=$1
	shift
	while [ $# -ge 2 ]; do
		if [ "$1" = "$want" ]; then echo "$2"; return; fi
		shift 2
	done
	echo 0
}
stub "$root/sbin/firstboot" "$(status_of firstboot "$@")"
stub "$root/sbin/reboot" "$(status_of reboot "$@")"
stub "$root/sbin/sysupgrade" "$(status_of sysupgrade "$@")" \
	'cp "$1" "'"$root"'/sysupgrade.img"; tar -xf "$1" -C "'"$root"'" etc/openwrt_release 2>/dev/null || true'
stub "$root/usr/sbin/ap_config_device" "$(status_of ap_config_device "$@")" \
	'for a; do [ "$prev" = "-f" ] && cp "$a" "'"$root"'/applied.config"; prev=$a; done'
stub "$root/usr/sbin/ap_enforced_auth" "$(status_of ap_enforced_auth "$@")" 'cat >> "'"$root"'/enforced_auth.log"'
stub "$root/etc/init.d/umdns" "$(status_of umdns "$@")"
ln -sf "$(command -v ip)" "$root/sbin/ip"
