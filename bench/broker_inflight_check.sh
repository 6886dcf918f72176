#!/bin/bash
# Whether the broker keeps to its in-flight window towards a client that
# falls behind: a subscriber (QoS 2) is paused while N messages are queued
# for it, then let go. Prints the most messages that were in flight to it at
# once (max_inflight_messages is 20) and whether the broker ended its
# connection for a protocol error (the broker reusing a packet identifier
# still in flight once more than 65,535 are). Root: runs in a network
# namespace of its own, since the port is fixed.
#   bench/broker_inflight_check.sh [N (80000)]
set -eu
n=${1:-80000}
case $n in '' | *[!0-9]*) echo "usage: $0 [messages]" >&2; exit 2 ;; esac
if [ "${IN_NETNS:-}" != 1 ]; then
	exec unshare -n env IN_NETNS=1 "$0" "$@"
fi
ip link set lo up
dir=$(mktemp -d /tmp/wlc-broker-check-XXXXXX)
trap 'kill $sub $broker 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"' EXIT
printf 'listener 18831 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nlog_dest file %s/broker.log\nlog_type all\nmax_queued_messages 0\nmax_inflight_messages 20\n' \
	"$dir" >"$dir/mosquitto.conf"
mosquitto -c "$dir/mosquitto.conf" 2>/dev/null &
broker=$!
until grep -q "Opening ipv4 listen socket" "$dir/broker.log" 2>/dev/null; do sleep 0.1; done
mosquitto_sub -p 18831 -q 2 -i slow -t t >"$dir/received" &
sub=$!
until grep -q "slow 2 t" "$dir/broker.log" 2>/dev/null; do sleep 0.1; done
kill -STOP $sub
mosquitto_pub -p 18831 -q 2 -t t -m x --repeat "$n"
kill -CONT $sub
for _ in $(seq 1 300); do
	[ "$(wc -l <"$dir/received")" -ge "$n" ] && break
	grep -q "slow disconnected" "$dir/broker.log" && break
	sleep 0.2
done
mosquitto -h 2>/dev/null | head -1 || true
awk -v n="$n" '
	/Sending PUBLISH to slow/ { sent++ }
	/Received PUBCOMP from slow/ { done++ }
	{ if (sent - done > most) most = sent - done }
	/slow disconnected due to protocol error/ { error = 1 }
	END {
		printf "%d QoS 2 messages to a subscriber that fell behind: at most %d in flight at once (window: 20)\n", n, most
		print error ? "the broker ended the connection for a protocol error" : "no protocol error"
	}' "$dir/broker.log"
