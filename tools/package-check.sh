#!/bin/sh
# Builds the Debian package the Debian way (debian/, dpkg-buildpackage) from a copy of the tree in
# build/deb/, checks it with lintian (no error, no warning), installs it with apt as a user would,
# checks the unit, the manual pages and --help, and starts the installed programs headless in an
# empty directory: the simulated one must come up, and a SIGTERM must close it cleanly with both
# files written; the real one prints its version and a plan, which touch no port. Needs root.
# The package build leaves out the tests and benchmarks (nocheck): the CI runs them on the tree.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
out="$top/build/deb"
rm -rf "$out"
mkdir -p "$out/src"
# The source as committed plus the working changes, without build trees.
tar -C "$top" --exclude='./build*' --exclude=./.git --exclude='./obj-*' -cf - . | tar -C "$out/src" -xf -
(cd "$out/src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -us -uc -b)
deb=$(ls "$out"/tavoxa_*.deb | head -n 1)
version=$(dpkg-deb -f "$deb" Version)
test "$version" = "$(dpkg-parsechangelog -l debian/changelog -S Version)"

# lintian: no error and no warning; each override in debian/ carries its reason.
lintian --fail-on error,warning "$out"/tavoxa_*.changes

# --reinstall: a machine that already has this version installed gets the new build all the same.
apt-get install -y --reinstall "$deb"
test -x /usr/bin/tavoxa && test -x /usr/bin/tavoxa-sim && test -x /usr/bin/tavoxa-ctl
# What the programs link must come with the package's dependencies (libmosquitto1 among them).
dpkg-deb -f "$deb" Depends | grep -q libmosquitto1
/usr/bin/tavoxa-ctl --version
test -f /usr/share/applications/tavoxa.desktop
test -f /usr/share/icons/hicolor/scalable/apps/tavoxa.svg
for doc in README.md.gz copyright changelog.Debian.gz; do
    test -f "/usr/share/doc/tavoxa/$doc"
done

# The service: installed, not enabled, its user in dialout, the unit valid.
unit=/lib/systemd/system/tavoxa.service
test -f "$unit"
id -nG tavoxa | tr ' ' '\n' | grep -qx dialout
systemd-analyze verify "$unit"
systemd-analyze security --offline=true --threshold=30 "$unit" | tail -n 1
if [ -d /run/systemd/system ]; then
    test "$(systemctl is-enabled tavoxa 2>/dev/null || true)" = disabled
fi

# Manual pages and --help.
/usr/bin/tavoxa --help | grep -q -- '--device'
for page in tavoxa tavoxa-ctl tavoxa-sim; do
    file=$(ls /usr/share/man/man1/$page.1.gz)
    MANPAGER=cat man -l "$file" >/dev/null
    zcat -f "$file" | grep -q "^\.TH" || zcat -f "$file" | grep -q '^\.so'
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa-sim 2>stderr.txt &
pid=$!
sleep 2
kill -TERM "$pid"
wait "$pid"
grep -q offscreen stderr.txt
! grep -q XDG_RUNTIME_DIR stderr.txt
# The real program without a display: no window, no port.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa --version | grep -q '^tavoxa '
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tavoxa --plan --days 1 >plan.txt 2>/dev/null
grep -q '^Relay 1' plan.txt
test "$(head -n 1 swcf.ini | tr -d '\r')" = "tavoxa.dat"
test "$(grep -c "$(printf '\r')" tavoxa.dat)" -eq 314
echo "package check: $deb ($version) passes lintian, installs with apt, starts headless and stops cleanly"
