#!/usr/bin/env bash
# The main job: installs what is needed, builds, and runs a simulated site:
# the device simulator with four access points, our bus daemon and the
# platform's services on the first one, the controller (broker, mast -r wlc,
# service stand-ins), mast -r ap on every AP, which joins the controller
# over TLS and is adopted, fast roaming between two APs and RRM over all four
# through the APs' masts, and the telemetry service; it asks them questions
# with the system's tools as one would on a device.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
./scripts/build.sh build-site -DWLC_TESTS=OFF -DWLC_BENCH=OFF

# The controller's broker listens on the system's fixed port 1883: the site
# runs in a network namespace of its own.
exec unshare -n ./scripts/run-site.sh

