#!/bin/sh
# Runs a program as it would run on one simulated device: in a UTS namespace
# whose hostname is the device's (ROOT/proc/sys/kernel/hostname), and in a
# mount namespace where the device's /data is a file system of the flash's
# size (ROOT/sys/class/mtd/mtd0/size) holding what ROOT/data held. What the
# program asks of the system (its hostname, the free bytes of /data) is then
# the device's, not the host's. Needs the privilege to create namespaces.
#   device-exec.sh ROOT PROGRAM [ARGUMENT...]
set -eu

if [ "${1:-}" = --inside ]; then
	shift
	root=$1
	shift
	if [ -r "$root/proc/sys/kernel/hostname" ]; then
		hostname "$(head -n 1 "$root/proc/sys/kernel/hostname")"
	fi
	if [ -r "$root/sys/class/mtd/mtd0/size" ] && [ -d "$root/data" ]; then
		size=$(head -n 1 "$root/sys/class/mtd/mtd0/size")
		mkdir -p "$root/tmp"
		stage=$(mktemp -d "$root/tmp/.flash-XXXXXX")
		mount -t tmpfs -o "size=$size,mode=0755" flash "$stage"
		cp -a "$root/data/." "$stage/"
		mount --move "$stage" "$root/data"
		rmdir "$stage"
	fi
	exec "$@"
fi

if [ $# -lt 2 ]; then
	echo "usage: $0 ROOT PROGRAM [ARGUMENT...]" >&2
	exit 2
fi
if [ ! -d "$1" ]; then
	echo "$0: no device root at $1" >&2
	exit 2
fi
exec unshare --uts --mount --propagation private -- "$0" --inside "$@"
