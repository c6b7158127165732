#!/usr/bin/env bash
# The main job: builds both executables, then gives the sample product a
# trial run under Wine (tools/trial.sh): installs it with the wizard on the
# new shell and on the old one, removes it again through its uninstall
# command, and shows what it did. The full report with a picture of every
# page, dialog and message box goes to build/main-job/report.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/deps.sh"
"$root/tools/build.sh"
python3 "$root/tests/tools/check_pe.py" --old-systems --baseline i486 "$root"/build/*/SETUP.EXE

report="$root/build/main-job"
status=0
TRIAL_BUILD="$root/build/x86_64" "$root/tools/trial.sh" "$root/build/x86_64/sample" "$report" || status=$?
echo
echo "pictures: $(cd "$report" && ls ./*.png | wc -l) PNG files beside the report"
exit $status
