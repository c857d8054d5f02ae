#!/bin/sh
# Builds the Debian package, installs it with apt as a user would, and starts the installed
# programs headless in an empty directory: the simulated one must come up, and a SIGTERM must
# close it cleanly with both files written; the real one prints its version and a plan, which
# touch no port. Needs a build in build/ and root.
set -eu
cd "$(dirname "$0")/.."
(cd build && cpack -G DEB)
deb=$(ls build/tavoxa_*.deb | head -n 1)
apt-get install -y "./$deb"
test -x /usr/bin/tavoxa && test -x /usr/bin/tavoxa-sim && test -x /usr/bin/tavoxa-ctl
# What the programs link must come with the package's dependencies (libmosquitto1 among them).
dpkg-deb -f "$deb" Depends | grep -q libmosquitto1
/usr/bin/tavoxa-ctl --version
test -f /usr/share/applications/tavoxa.desktop
test -f /usr/share/icons/hicolor/scalable/apps/tavoxa.svg

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa-sim 2>stderr.txt &
pid=$!
sleep 2
kill -TERM "$pid"
wait "$pid"
grep -q offscreen stderr.txt
# The real program without a display: no window, no port.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa --version | grep -q '^tavoxa '
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa --plan --days 1 >plan.txt 2>/dev/null
grep -q '^Relay 1' plan.txt
test "$(head -n 1 swcf.ini | tr -d '\r')" = "tavoxa.dat"
test "$(grep -c "$(printf '\r')" tavoxa.dat)" -eq 314
echo "package check: $deb installs with apt, starts headless and stops cleanly"
