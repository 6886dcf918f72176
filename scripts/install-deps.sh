#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and benchmark the system.
set -euo pipefail

packages=(
  build-essential cmake pkg-config python3
  # The fuzzing build: clang, and its sanitizer and libFuzzer runtimes
  # (libclang_rt.fuzzer), which clang itself does not pull in.
  clang libclang-rt-dev
  libjson-c-dev libssl-dev openssl
  libsqlite3-dev
  libmosquitto-dev mosquitto mosquitto-clients
  libcurl4-openssl-dev curl
  libnl-3-dev libnl-genl-3-dev
  libpam0g-dev libpam-runtime pamtester libpam-wrapper libnss-wrapper
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 procps
  squashfs-tools
  chrony dnsmasq-base
  lighttpd lighttpd-mod-webdav lighttpd-mod-openssl vsftpd
  # The site view: password hashes, and its browser tests in headless Chromium.
  libcrypt-dev chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # The test peers (NTP, HTTP, FTP servers) are run by the tests themselves:
  # the packages must not start system-wide services when installed.
  policy=/usr/sbin/policy-rc.d
  own_policy=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy" && chmod +x "$policy" && own_policy=1
  fi
  trap '[ -n "$own_policy" ] && rm -f "$policy"' EXIT
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
