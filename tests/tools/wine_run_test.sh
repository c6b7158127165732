#!/bin/sh
# tools/wine-run.sh ($1) on a test program ($2), with a stand-in for Wine
# that ends the first start before the program runs, then runs it, and the
# program fails on its own: one start more, and no third.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/drive_c"
cat >"$dir/wine" <<'STANDIN'
#!/bin/sh
echo start >>"${0%/*}/starts"
[ "$(wc -l <"${0%/*}/starts")" -gt 1 ] || exit 1
: >"${WINE_RUN_STARTED#Z:}"
exit 5
STANDIN
chmod +x "$dir/wine"
WINEPREFIX=$dir WINE_RUN_WINE=$dir/wine "$1" "$2"
status=$?
echo "exit status $status after $(wc -l <"$dir/starts") starts"
[ "$status" = 5 ] && [ "$(wc -l <"$dir/starts")" = 2 ]
