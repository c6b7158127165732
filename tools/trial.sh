#!/usr/bin/env bash
# Trial run of a distribution under Wine, on the new shell and on the old
# one: installs it with the wizard's default answers, removes it through its
# registered uninstall command, and writes REPORT_DIR/report.md with a PNG
# picture of every page, dialog and message box.
#   tools/trial.sh DIST_DIR|ARCHIVE.zip [REPORT_DIR] [--name NAME.EXE]   (default REPORT_DIR: ./trial-report)
# DIST_DIR holds the script and the product's files, and the maker's setup
# program when they have one. ARCHIVE.zip is a package of tools/package.sh:
# it is unpacked with its names in code page 932, and the SETUP.EXE in it
# runs as shipped, bound and signed. The setup program's name is --name,
# else the script's with .EXE (SETUP.EXE for SETUP.INF, or the only other
# *.INF). Without one, the build's SETUP.EXE goes in: the i686 one that
# tools/package.sh ships, where this machine runs 32-bit code, else the
# x86_64 one. A 32-bit setup program where no 32-bit code runs is replaced
# with the build's x86_64 one. The report says which one ran, and whether it
# is bound to its script and signed.
# The checker runs first; when it finds errors nothing is tried.
# TRIAL_BUILD names a build tree (default build/x86_64): TRIAL.EXE comes from
# the tree beside it built for the same processor as the setup program, so
# that it sees the folders and the registry as that program does.
# TRIAL_SHELLS picks the shells (default win7,nt351). The exit status is 0
# when every shell installed without a message box, made every shortcut or
# item that the script asks for (an item that only Wine's Program Manager
# refuses, as it refuses every command line with arguments, is named but
# not counted), and removed everything; 2 when the checker finds errors in
# the script, or on wrong usage; 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: tools/trial.sh DIST_DIR|ARCHIVE.zip [REPORT_DIR] [--name NAME.EXE]" >&2; exit 2; }
name="" args=()
while [ $# -gt 0 ]; do
  case "$1" in
  --name) [ $# -ge 2 ] || usage; name=$2; shift 2 ;;
  --name=*) name=${1#--name=}; shift ;;
  -*) usage ;;
  *) args+=("$1"); shift ;;
  esac
done
[ ${#args[@]} -ge 1 ] && [ ${#args[@]} -le 2 ] || usage
build=$(realpath -m "${TRIAL_BUILD:-$root/build/x86_64}")
shells=${TRIAL_SHELLS:-win7,nt351}
report=$(realpath -m "${args[1]:-$PWD/trial-report}")
kind=distribution
if [ -f "${args[0]}" ] && [[ ${args[0]} == *.[Zz][Ii][Pp] ]]; then
  # The archive as a customer extracts it on Japanese Windows.
  kind=archive
  # Two levels below the build root, where build/*/SETUP.EXE finds no copy of it.
  dist="$(dirname "$build")/trial/archive"
  rm -rf "$dist"
  python3 - "${args[0]}" "$dist" <<'EOF' || { echo "trial: ${args[0]} cannot be unpacked" >&2; exit 2; }
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], metadata_encoding="cp932") as archive:
    archive.extractall(sys.argv[2])
EOF
  shown=$(realpath "${args[0]}")
else
  [ -d "${args[0]}" ] || usage
  dist=$(realpath "${args[0]}")
  shown=$dist
fi

# The setup program's name, found as tools/package.sh finds it.
if [ -z "$name" ]; then
  if [ -f "$dist/SETUP.INF" ]; then
    name=SETUP.EXE
  else
    scripts=("$dist"/*.[Ii][Nn][Ff])
    [ ${#scripts[@]} -eq 1 ] && [ -f "${scripts[0]}" ] ||
      { echo "trial: $shown holds no SETUP.INF and not exactly one other script; name the setup program with --name" >&2; exit 2; }
    script=$(basename "${scripts[0]}")
    name=${script%???}EXE
  fi
fi
case "$name" in *.[Ee][Xx][Ee]) ;; *) echo "trial: --name $name: the setup program's name ends in .EXE" >&2; exit 2 ;; esac
[ -f "$dist/${name%???}INF" ] || { echo "trial: $shown holds no ${name%???}INF, the script of $name" >&2; exit 2; }

# Which SETUP.EXE is tried: the maker's own, unless it is 32-bit and this
# machine runs no 32-bit code; else the build's, 32-bit where it can run.
runs32=0
/usr/lib/wine/wine --version >/dev/null 2>&1 && runs32=1
is32() { [ "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" | tr -d ' ')" = 4c01 ]; }
setup="" origin="the $kind's own"
if [ -f "$dist/$name" ]; then
  if is32 "$dist/$name" && [ $runs32 = 0 ]; then
    origin="the $kind's own is 32-bit and this machine runs no 32-bit code: the build's x86_64 one in its place, which is not what ships"
    setup=$(dirname "$build")/x86_64/SETUP.EXE
  fi
else
  arch=x86_64
  [ $runs32 = 1 ] && [ -f "$(dirname "$build")/i686/SETUP.EXE" ] && arch=i686
  setup=$(dirname "$build")/$arch/SETUP.EXE
  origin="none in the $kind: the build's $arch one ($setup)"
fi
[ -z "$setup" ] || [ -f "$setup" ] || { echo "trial: no $setup: build first (tools/build.sh)" >&2; exit 2; }
tried=${setup:-$dist/$name}

# What the program that runs vouches for: the script's digest that the
# package step writes into it, and its signature.
facts=$(python3 - "$tried" "$dist/${name%???}INF" <<'EOF'
import hashlib, re, subprocess, sys
program, script = (open(path, "rb").read() for path in sys.argv[1:3])
mark = program.find(b"SETUP.BINDING.1\0")
bound = program[mark + 16:mark + 48] if mark >= 0 else b""
if not bound.strip(b"\0"):
    facts = ["not bound to a script (as the build leaves it: it checks no file)"]
elif hashlib.sha256(script).digest() == bound:
    facts = ["bound to its script, which is the one it was bound to"]
else:
    facts = ["bound to a script, but NOT to this one: it refuses it"]
try:
    shown = subprocess.run(["osslsigncode", "verify", "-in", sys.argv[1]], capture_output=True, text=True,
                           errors="replace").stdout
except OSError:
    shown = None
if shown is None:
    facts.append("its signature not looked at (no osslsigncode: tools/deps.sh installs it)")
elif "Signer's certificate" not in shown:
    facts.append("not signed")
else:
    subject = re.search(r"Subject: *(.*)", shown)
    digests = re.findall(r"(?:Current|Calculated) message digest *: *(\S+)", shown)
    facts.append("signed by " + (subject.group(1).strip() if subject else "(no subject)") +
                 (", without a time stamp" if "Timestamp is not available" in shown else ", time-stamped") +
                 (", the signature matching the file" if len(set(digests)) == 1 and digests
                  else ", but the file was changed after signing"))
print("; ".join(facts))
EOF
)

# TRIAL.EXE of the setup program's processor: a 32-bit program on the 64-bit
# prefix has a registry view and a system directory of its own.
arch=x86_64 loader=/usr/lib/wine/wine64
is32 "$tried" && arch=i686 loader=/usr/lib/wine/wine
tree=$(dirname "$build")/$arch
[ -f "$tree/TRIAL.EXE" ] || cmake --build "$tree" --target trial -- --no-print-directory >/dev/null ||
  { echo "trial: no TRIAL.EXE for $arch under $tree: build first (tools/build.sh)" >&2; exit 2; }

rigdir="$(dirname "$build")/trial-rig"
trace="$(dirname "$build")/trial/dde.log"
mkdir -p "$(dirname "$trace")"
trap '"$root/tools/rig.sh" stop "$rigdir"' EXIT
eval "$(RIG_DESKTOP_TRACE=$trace "$root/tools/rig.sh" start "$rigdir")"

# The distribution as the prefix sees it: a copy, so that the trial cannot
# change the maker's directory.
inside="$WINEPREFIX/drive_c/trial/dist"
rm -rf "$inside"
mkdir -p "$inside"
cp -r "$dist/." "$inside/"
[ -z "$setup" ] || cp "$setup" "$inside/$name"

mkdir -p "$report"
rm -f "$report"/report.md "$report"/*.bmp "$report"/*.png
status=0
TRIAL_DDE_TRACE="Z:${trace//\//\\}" "$loader" "$tree/TRIAL.EXE" 'C:\trial\dist' "Z:${report//\//\\}" "$shells" \
  "$shown" "$name" "$origin" "$facts" || status=$?

for bmp in "$report"/*.bmp; do
  [ -e "$bmp" ] || continue
  # A palette of what the window shows keeps the pictures small.
  convert "$bmp" -strip PNG8:"${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "report: $report/report.md"
exit $status
