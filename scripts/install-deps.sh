#!/usr/bin/env bash
# Installs everything Orvia needs to build, run and test on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
    build-essential cmake ninja-build pkg-config git python3 \
    qt6-base-dev libgl-dev qt6-translations-l10n qt6-qpa-plugins fonts-wine \
    zlib1g-dev libbz2-dev liblzma-dev libzstd-dev libcurl4-openssl-dev libcpp-httplib-dev libssl-dev \
    libimobiledevice-dev libplist-dev libssh-dev openssh-server openssh-client curl bzip2 gzip \
    libgtest-dev libgmock-dev libbenchmark-dev \
    clang libclang-rt-14-dev clang-format
