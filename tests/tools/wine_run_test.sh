#!/bin/sh
# tools/wine-run.sh ($1) on a test program ($2), with a stand-in for Wine that
# ends the first start before the program runs, then runs it, and the program
# fails on its own: one start more, and no third.
d=$(mktemp -d)
mkdir "$d/drive_c"
printf '%s\n' 'echo >>"${0%/*}/starts"; [ $(wc -l <"${0%/*}/starts") = 1 ] && exit 1' \
  ': >"${WINE_RUN_STARTED#Z:}"; exit 5' >"$d/wine"
chmod +x "$d/wine"
WINEPREFIX=$d WINE_RUN_WINE=$d/wine "$1" "$2"
status=$? starts=$(wc -l <"$d/starts")
rm -rf "$d"
echo "exit status $status after $starts starts"
[ "$status" = 5 ] && [ "$starts" = 2 ]
