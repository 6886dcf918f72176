#!/usr/bin/env bash
# Installs what the AArch64 cross-build and its emulated tests need: Debian's
# cross compiler, qemu-user (no binfmt registration is relied on) and the
# product's dependencies as Debian arm64 packages beside the host's (multiarch).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

packages=(
  g++-aarch64-linux-gnu qemu-user
  libc6-dev:arm64 libstdc++-12-dev:arm64
  libjson-c-dev:arm64 libssl-dev:arm64 libmosquitto-dev:arm64 libcurl4-openssl-dev:arm64
  libnl-3-dev:arm64 libnl-genl-3-dev:arm64 libpam0g-dev:arm64 libsqlite3-dev:arm64
  libgtest-dev:arm64 libgmock-dev:arm64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
