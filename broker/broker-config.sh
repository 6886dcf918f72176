#!/bin/sh
# Writes the site broker's mosquitto configuration:
#   - the access points' listener: TLS, a client certificate of the site CA
#     required, the certificate's common name taken as the user name and as
#     the client id (so that no AP can take over another's session), and the
#     access points' list (ap.acl: each AP its own topics only);
#   - the controller's listener, on loopback only: user name and password
#     from the password file, and the controller's list (controller.acl).
#
#   broker-config.sh [option...] > mosquitto.conf
#     --ca FILE          the site CA's certificate              (required)
#     --cert FILE        the broker's certificate               (required)
#     --key FILE         the broker's key                       (required)
#     --passwd FILE      the controller's password file         (required)
#     --acl-dir DIR      where ap.acl and controller.acl are    (required)
#     --ap-port N        the access points' port                (8883)
#     --ap-address ADDR  the address it is bound to             (all)
#     --local-port N     the controller's loopback port         (1883)
#     --log-file FILE    log to FILE, every message type        (syslog)
#     --user NAME        the user the broker runs as            (mosquitto)
#     --persistence DIR  keep retained messages in DIR          (none)
set -eu

die() {
	echo "broker-config: $*" >&2
	exit 2
}

ca='' cert='' key='' passwd='' acl_dir='' ap_port=8883 ap_address='' local_port=1883
log_file='' user=mosquitto persistence=''
while [ $# -gt 0 ]; do
	[ $# -ge 2 ] || die "$1 needs a value"
	case $1 in
	--ca) ca=$2 ;;
	--cert) cert=$2 ;;
	--key) key=$2 ;;
	--passwd) passwd=$2 ;;
	--acl-dir) acl_dir=$2 ;;
	--ap-port) ap_port=$2 ;;
	--ap-address) ap_address=$2 ;;
	--local-port) local_port=$2 ;;
	--log-file) log_file=$2 ;;
	--user) user=$2 ;;
	--persistence) persistence=$2 ;;
	*) die "unknown option $1" ;;
	esac
	shift 2
done
for need in ca cert key passwd acl_dir; do
	eval "value=\$$need"
	[ -n "$value" ] || die "--$(echo "$need" | tr _ -) is required"
done
for f in "$ca" "$cert" "$key" "$passwd" "$acl_dir/ap.acl" "$acl_dir/controller.acl"; do
	[ -r "$f" ] || die "cannot read $f"
done
for port in "$ap_port" "$local_port"; do
	case $port in
	'' | *[!0-9]*) die "not a port: $port" ;;
	esac
	[ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "not a port: $port"
done
[ "$ap_port" != "$local_port" ] || die "the two listeners need two ports"

cat <<CONF
# The site broker (written by broker-config.sh).
per_listener_settings true
user $user
CONF
if [ -n "$log_file" ]; then
	printf 'log_dest file %s\nlog_type all\n' "$log_file"
else
	printf 'log_dest syslog\n'
fi
if [ -n "$persistence" ]; then
	printf 'persistence true\npersistence_location %s/\n' "$persistence"
else
	printf 'persistence false\n'
fi
cat <<CONF

# The controller's own clients (mast -r wlc), on loopback only.
listener $local_port 127.0.0.1
allow_anonymous false
password_file $passwd
acl_file $acl_dir/controller.acl

# Access points: a certificate of the site CA, whose common name is the AP's
# device identifier, is its user name and its client id.
listener $ap_port${ap_address:+ $ap_address}
allow_anonymous false
cafile $ca
certfile $cert
keyfile $key
require_certificate true
use_identity_as_username true
use_username_as_clientid true
acl_file $acl_dir/ap.acl
CONF
