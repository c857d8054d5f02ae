#!/bin/sh
# Runs tools/update-translations.sh on a copy of the English .ts in the folder given and fails
# when a text is left unfinished or the copy differs from the file in the repository.
set -e
top="$(dirname "$0")/../.."
ts="$top/ui/translations/tavoxa_en.ts"
copy="$1/tavoxa_en.check.ts"
cp "$ts" "$copy"
sh "$top/tools/update-translations.sh" "$copy"
! grep -n 'type="unfinished"' "$copy" || { echo "unfinished translations above: translate them in $ts" >&2; exit 1; }
diff "$ts" "$copy" >&2 || { echo "$ts is not up to date: run tools/update-translations.sh" >&2; exit 1; }
