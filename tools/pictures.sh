#!/usr/bin/env bash
# The README's pictures, from the real build: a trial run of the sample
# product on the new shell gives the wizard's pages and the removal dialog,
# and the script checker's output on the sample is drawn as text.
#   docs/wizard-destination.png docs/wizard-options.png docs/wizard-progress.png
#   docs/removal-dialog.png docs/checker-report.png
# TRIAL_BUILD picks the build tree (default build/x86_64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${TRIAL_BUILD:-$root/build/x86_64}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

TRIAL_BUILD="$build" TRIAL_SHELLS=win7 "$root/tools/trial.sh" "$build/sample" "$work" >/dev/null

mkdir -p "$root/docs"
take() {  # picture name in the trial's report -> docs name
  local found
  found=$(ls "$work"/win7-??-"$1".png 2>/dev/null | head -n 1)
  [ -n "$found" ] || { echo "pictures: the trial saved no $1 picture" >&2; exit 1; }
  cp "$found" "$root/docs/$2"
}
take destination wizard-destination.png
take options wizard-options.png
take progress wizard-progress.png
take removal-done removal-dialog.png

# The checker's output as the report holds it (UTF-8), between its fences.
awk '/^## Script checker/ {on = 1} on && /^```$/ {if (inside) exit; inside = 1; next} inside' \
  "$work/report.md" >"$work/checker.txt"
[ -s "$work/checker.txt" ] || { echo "pictures: no checker output in the report" >&2; exit 1; }
font=/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
# Drawn onto a large canvas and trimmed: the label coder may be refused by
# ImageMagick's policy. A percent sign or a backslash would start an escape.
text=$(sed -e 's/%/%%/g' -e 's/\\/\\\\/g' "$work/checker.txt")
lines=$(wc -l <"$work/checker.txt")
convert -size 1400x$(((lines + 2) * 20)) xc:white -fill black -font "$font" -pointsize 13 \
  -interline-spacing 3 -annotate +12+22 "$text" -trim +repage -bordercolor white -border 12 \
  -colorspace Gray -depth 4 -strip PNG:"$root/docs/checker-report.png"

for png in wizard-destination wizard-options wizard-progress removal-dialog checker-report; do
  echo "docs/$png.png  $(stat -c %s "$root/docs/$png.png") bytes"
done
