#!/usr/bin/env bash
# The main job: installs what is needed, builds, and runs a simulated site:
# the device simulator with four access points, our bus daemon and the
# platform's services on the first one, the controller (broker, mast -r wlc,
# service stand-ins), mast -r ap on every AP, which joins the controller
# over TLS and is adopted, fast roaming between two APs and RRM over all four
# through the APs' masts, the telemetry service, and the site view (a web
# page of the site); it asks them questions with the system's tools as one
# would on a device.
#   ./scripts/site.sh [--keep]   --keep: the site and its web page stay until
#                                interrupted, at http://127.0.0.1:8080/
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
case "${1:-}" in
  --keep) keep=1 ;;
  "") ;;
  *) echo "Usage: $0 [--keep]" >&2; exit 1 ;;
esac

./scripts/install-deps.sh
./scripts/build.sh build-site -DWLC_TESTS=OFF -DWLC_BENCH=OFF

# The controller's broker listens on the system's fixed port 1883: the site
# runs in a network namespace of its own.
if [ "$keep" = 0 ]; then
  exec unshare -n ./scripts/run-site.sh
fi
# Kept: the web server also listens on a Unix socket, forwarded to this
# host's 127.0.0.1:8080 so that a browser here can open the page.
web=$(mktemp -d /tmp/wlc-siteview-XXXXXX)
trap 'kill "$forward" 2>/dev/null || true; rm -rf "$web"' EXIT
python3 ./scripts/web-forward.py 127.0.0.1:8080 "$web/web.sock" & forward=$!
WLC_SITE_WEB_SOCKET=$web/web.sock unshare -n ./scripts/run-site.sh
