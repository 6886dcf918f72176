#!/bin/sh
# The recording stand-ins of the platform commands: sysupgrade keeps the
# image it was given and installs the release file of an image that carries
# one (a tar archive), as flashing it would; any other image changes nothing.
# Usage: platform_stubs_test.sh <source dir>
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

root=$work/ap
mkdir -p "$root/etc" "$work/image/etc"
echo "DISTRIB_REVISION='r1-old'" > "$root/etc/openwrt_release"
sh "$src/sim/tools/platform-stubs.sh" "$root"

head -c 4096 /dev/urandom > "$work/plain.bin"
"$root/sbin/sysupgrade" "$work/plain.bin" || fail "sysupgrade of a plain image failed"
cmp -s "$work/plain.bin" "$root/sysupgrade.img" || fail "the plain image was not kept"
[ "$(cat "$root/etc/openwrt_release")" = "DISTRIB_REVISION='r1-old'" ] || fail "a plain image changed the release"

echo "DISTRIB_REVISION='r2-new'" > "$work/image/etc/openwrt_release"
tar -cf "$work/release.bin" -C "$work/image" etc/openwrt_release
"$root/sbin/sysupgrade" "$work/release.bin" || fail "sysupgrade of a release image failed"
cmp -s "$work/release.bin" "$root/sysupgrade.img" || fail "the release image was not kept"
[ "$(cat "$root/etc/openwrt_release")" = "DISTRIB_REVISION='r2-new'" ] || fail "the release file was not installed"
[ "$(tail -1 "$root/stubs.log")" = "sysupgrade $work/release.bin" ] || fail "not recorded: $(cat "$root/stubs.log")"
echo "platform stubs: ok"
