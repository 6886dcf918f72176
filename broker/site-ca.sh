#!/bin/sh
# The site's certificate authority: creates the site CA, issues the broker's
# certificate, and issues each access point's client certificate, whose
# subject common name is the AP's device identifier (the broker takes it as
# the AP's user name, and the access list gives that user the AP's own
# topics only). Keys are EC P-256; every key file is readable by its owner
# only.
#
#   site-ca.sh init   CA_DIR [NAME]            the site CA (refuses to replace one)
#   site-ca.sh broker CA_DIR HOST [IP...]      CA_DIR/broker.crt and .key
#   site-ca.sh ap     CA_DIR ID OUT_DIR        OUT_DIR/mqtt.crt and .key for AP ID
#   site-ca.sh sign   CA_DIR ID CSR CRT        signs a request made on the AP itself
#                                              (its subject must be CN=ID)
#
# On an AP the certificate and key go to /data/ssl/mqtt.crt and
# /data/ssl/mqtt.key.
set -eu

OPENSSL=${OPENSSL:-openssl}
CA_DAYS=3650
BROKER_DAYS=825
AP_DAYS=3650

die() {
	echo "site-ca: $*" >&2
	exit 1
}

usage() {
	sed -n '/^#   site-ca.sh/s/^#   //p' "$0" >&2
	exit 2
}

# A device identifier as the AP's library gives it: letters, digits, '.',
# '_' and '-', at most 23 characters. "all" names every AP in topics and
# can never be one AP's name.
check_id() {
	case $1 in
	'' | all | *[!A-Za-z0-9._-]*) die "not a device identifier: '$1'" ;;
	esac
	[ ${#1} -le 23 ] || die "not a device identifier (longer than 23 characters): '$1'"
}

need_ca() {
	[ -s "$1/ca.crt" ] && [ -s "$1/ca.key" ] || die "no site CA in $1 (run: site-ca.sh init $1)"
}

new_key() {
	(umask 077 && "$OPENSSL" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null) ||
		die "cannot create the key $1"
}

# sign_request CA_DIR CSR CRT DAYS EXTENSIONS
sign_request() {
	ext=$(mktemp "$1/.ext.XXXXXX")
	printf '%b' "$5" >"$ext"
	if ! "$OPENSSL" x509 -req -in "$2" -CA "$1/ca.crt" -CAkey "$1/ca.key" -CAserial "$1/ca.srl" \
		-CAcreateserial -days "$4" -sha256 -extfile "$ext" -out "$3" 2>/dev/null; then
		rm -f "$ext"
		die "cannot sign $2"
	fi
	rm -f "$ext"
}

cmd_init() {
	[ $# -ge 1 ] || usage
	dir=$1
	name=${2:-wlc site CA}
	[ ! -e "$dir/ca.key" ] || die "$dir already holds a site CA"
	mkdir -p "$dir"
	new_key "$dir/ca.key"
	"$OPENSSL" req -new -x509 -key "$dir/ca.key" -subj "/CN=$name" -days "$CA_DAYS" -sha256 \
		-addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
		-out "$dir/ca.crt" 2>/dev/null || die "cannot create the CA certificate"
	echo "site CA: $dir/ca.crt"
}

cmd_broker() {
	[ $# -ge 2 ] || usage
	dir=$1
	host=$2
	shift 2
	need_ca "$dir"
	san="DNS:$host"
	for ip in "$@"; do
		san="$san,IP:$ip"
	done
	new_key "$dir/broker.key"
	csr=$(mktemp "$dir/.csr.XXXXXX")
	"$OPENSSL" req -new -key "$dir/broker.key" -subj "/CN=$host" -out "$csr" 2>/dev/null ||
		die "cannot create the broker's request"
	sign_request "$dir" "$csr" "$dir/broker.crt" "$BROKER_DAYS" \
		"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\nsubjectAltName=$san\n"
	rm -f "$csr"
	echo "broker certificate: $dir/broker.crt"
}

ap_extensions="basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=clientAuth\n"

cmd_ap() {
	[ $# -eq 3 ] || usage
	dir=$1
	id=$2
	out=$3
	check_id "$id"
	need_ca "$dir"
	mkdir -p "$out"
	new_key "$out/mqtt.key"
	csr=$(mktemp "$dir/.csr.XXXXXX")
	"$OPENSSL" req -new -key "$out/mqtt.key" -subj "/CN=$id" -out "$csr" 2>/dev/null ||
		die "cannot create the request of $id"
	sign_request "$dir" "$csr" "$out/mqtt.crt" "$AP_DAYS" "$ap_extensions"
	rm -f "$csr"
	echo "$id: $out/mqtt.crt"
}

cmd_sign() {
	[ $# -eq 4 ] || usage
	dir=$1
	id=$2
	csr=$3
	crt=$4
	check_id "$id"
	need_ca "$dir"
	subject=$("$OPENSSL" req -in "$csr" -noout -subject -nameopt RFC2253 2>/dev/null) ||
		die "cannot read the request $csr"
	[ "$subject" = "subject=CN=$id" ] || die "the request's subject is '${subject#subject=}', not CN=$id"
	"$OPENSSL" req -in "$csr" -noout -verify 2>/dev/null || die "the request $csr is not signed by its key"
	sign_request "$dir" "$csr" "$crt" "$AP_DAYS" "$ap_extensions"
	echo "$id: $crt"
}

[ $# -ge 1 ] || usage
what=$1
shift
case $what in
init) cmd_init "$@" ;;
broker) cmd_broker "$@" ;;
ap) cmd_ap "$@" ;;
sign) cmd_sign "$@" ;;
*) usage ;;
esac
