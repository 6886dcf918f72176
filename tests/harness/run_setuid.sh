#!/bin/sh
# Runs a program from a setuid-root copy of it, started by root or by an
# unprivileged user (uid and gid 65534, no groups), as a local user would run
# an installed setuid program. Run by root; the program's output and exit
# status are the script's.
#
# Everything happens in a mount namespace of its own (nothing shared back with
# the host), which ends with the program and takes its mounts with it:
# - the copy lives on a tmpfs mounted there, never nosuid whatever the host's
#   mounts are, and is started through its descriptor, so the unprivileged
#   user needs no way into the caller's private directories;
# - with a directory DIR/pam.d, that directory is /etc/pam.d there: a setuid
#   program ignores pam_wrapper (the loader drops LD_PRELOAD for it), so its
#   PAM stack reads the system's place, and the host's /etc stays as it is;
# - the bus socket's directory, where it exists, is an empty tmpfs there, so a
#   program that does not take the redirected root finds no bus at all.
#
# Usage: run_setuid.sh DIR root|unprivileged PROGRAM [ARGS...]
set -eu

if [ "${1:-}" != --inside ]; then
	exec unshare --mount --propagation private sh "$0" --inside "$@"
fi
shift
dir=$1 caller=$2 program=$3
shift 3

mkdir -p "$dir/setuid"
mount -t tmpfs -o mode=0755 wlc-setuid "$dir/setuid"
copy=$dir/setuid/$(basename "$program")
cp "$program" "$copy"
chmod 4755 "$copy"
if [ -d "$dir/pam.d" ]; then
	mount --bind "$dir/pam.d" /etc/pam.d
fi
if [ -d /var/run/ubus ]; then
	mount -t tmpfs -o mode=0755 wlc-nobus /var/run/ubus
fi

case $caller in
root) exec 3<"$copy" /proc/self/fd/3 "$@" ;;
unprivileged) exec 3<"$copy" setpriv --reuid=65534 --regid=65534 --clear-groups /proc/self/fd/3 "$@" ;;
*) echo "run_setuid.sh: caller is root or unprivileged" >&2; exit 2 ;;
esac
