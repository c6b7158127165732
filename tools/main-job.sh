#!/usr/bin/env bash
# The main job: builds both executables, then gives the sample product a
# trial run under Wine (tools/trial.sh), with the 32-bit SETUP.EXE where this
# machine runs 32-bit code natively: installs it with the wizard on the
# new shell and on the old one, removes it again through its uninstall
# command, and shows what it did. The full report with a picture of every
# page, dialog and message box goes to build/main-job/report.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh"
"$root/tools/build.sh"
python3 "$root/tests/tools/check_pe.py" --old-systems --baseline i486 "$root"/build/*/SETUP.EXE

# The 32-bit build is the one tools/package.sh ships: tried where this
# machine runs 32-bit code natively. A handler registered for 32-bit programs
# (an emulator) takes them before the kernel would, and every start through
# it takes minutes: the 64-bit build is tried there.
native32() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 || return 1
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] && grep -qx enabled "$entry" || continue
    # An ELF header of class 32-bit whose machine field is i386 (3).
    awk '$1 == "magic" && substr($2, 1, 10) == "7f454c4601" && substr($2, 37, 4) == "0300" { found = 1 }
         END { exit !found }' "$entry" && return 1
  done
  return 0
}
arch=x86_64
native32 && arch=i686
echo "trial of the sample with the $arch SETUP.EXE"

report="$root/build/main-job"
status=0
TRIAL_BUILD="$root/build/x86_64" "$root/tools/trial.sh" "$root/build/$arch/sample" "$report" || status=$?
echo
echo "pictures: $(cd "$report" && ls ./*.png | wc -l) PNG files beside the report"
exit $status
