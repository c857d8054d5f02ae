#!/bin/sh
# Brings the English translation up to date with the window's German texts: new texts are added
# as unfinished (translate them in ui/translations/tavoxa_en.ts, with Qt Linguist or an editor),
# texts no longer in the sources are dropped. Run from anywhere; needs qt6-l10n-tools.
# With a file name as argument, that .ts file is updated instead (the translation test does so
# on a copy).
set -e
cd "$(dirname "$0")/.."
LUPDATE=${LUPDATE:-/usr/lib/qt6/bin/lupdate}
TS=${1:-ui/translations/tavoxa_en.ts}
"$LUPDATE" -silent -no-obsolete -locations none -source-language de -target-language en \
    -I . -extensions cpp,h ui core engine storage -ts "$TS"
