#!/bin/sh
# The environment variables that move the device root or mirror the log:
# named in none of the device build's files, and (so that the check is seen
# to find them) each named in at least one of the host build's.
# Usage: env_names.sh host FILE... device FILE...   (either list may be empty)
names="WLC_ROOT WLC_LOG_FILE WLC_LOG_STDERR"
status=0 side= host_text=
for arg; do
	case $arg in
	host | device) side=$arg; continue ;;
	esac
	[ -f "$arg" ] || { echo "no such file: $arg"; exit 2; }
	text=$(strings -a "$arg")
	if [ "$side" = host ]; then
		host_text="$host_text
$text"
		continue
	fi
	for name in $names; do
		if printf '%s\n' "$text" | grep -q "$name"; then
			echo "$arg names $name"
			status=1
		fi
	done
done
if [ -n "$host_text" ]; then
	for name in $names; do
		printf '%s\n' "$host_text" | grep -q "$name" || { echo "no host file names $name"; status=1; }
	done
fi
exit $status
