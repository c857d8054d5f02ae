#!/bin/sh
# Draws the windows under Xvfb and saves them to docs/ (main-window.png and the others), then
# the window, the help and the IP dialog once more in English (main-window-en.png, ...).
# Needs a build (cmake --build build) and xvfb-run (tools/install-deps.sh installs it).
set -e
cd "$(dirname "$0")/.."
cmake --build build --target tavoxa-screenshots
mkdir -p docs
xvfb-run -a -s '-screen 0 1280x1024x24' ./build/tools/tavoxa-screenshots docs
xvfb-run -a -s '-screen 0 1280x1024x24' ./build/tools/tavoxa-screenshots docs en
