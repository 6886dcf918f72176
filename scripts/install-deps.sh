#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and benchmark the system.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjson-c-dev libssl-dev openssl
  libmosquitto-dev mosquitto mosquitto-clients
  libcurl4-openssl-dev curl
  libnl-3-dev libnl-genl-3-dev
  libpam0g-dev libpam-runtime
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 procps
  squashfs-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
