#!/bin/sh
# Installs what Tavoxa needs to build, test and run on Debian 12 (run as root).
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    ca-certificates cmake ninja-build g++ make pkg-config \
    qt6-base-dev qt6-serialport-dev libqt6network6 libqt6serialport6 \
    qt6-qpa-plugins libgl-dev dpkg-dev file \
    libgtest-dev googletest \
    xvfb xauth fonts-dejavu-core \
    clang clang-tidy clang-format libclang-rt-14-dev \
    libmosquitto-dev mosquitto \
    qt6-httpserver-dev qt6-websockets-dev libsodium-dev \
    nodejs npm chromium
# The browser tests' one npm package (playwright-core, pinned by the lock file); it drives the
# chromium above, so Playwright downloads no browser of its own.
(cd "$(dirname "$0")/../tests/web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
