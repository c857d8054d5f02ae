#!/bin/sh
# Installs what Tavoxa needs to build, test and run on Debian 12 (run as root).
set -e
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
    ca-certificates cmake ninja-build g++ make pkg-config \
    qt6-base-dev qt6-serialport-dev libqt6network6 libqt6serialport6 \
    qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools \
    qt6-qpa-plugins libgl-dev dpkg-dev file \
    libgtest-dev googletest \
    xvfb xauth fonts-dejavu-core \
    clang clang-tidy clang-format libclang-rt-14-dev \
    libmosquitto-dev mosquitto \
    libsystemd-dev systemd \
    debhelper fakeroot help2man lintian man-db \
    qt6-httpserver-dev qt6-websockets-dev libsodium-dev \
    nodejs chromium
# npm comes with some builds of nodejs and conflicts with them as a package of its own.
command -v npm >/dev/null 2>&1 || apt-get install -y --no-install-recommends npm
# The browser tests' one npm package (playwright-core, pinned by the lock file); it drives the
# chromium above, so Playwright downloads no browser of its own.
(cd "$(dirname "$0")/../tests/web" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund)
