#!/usr/bin/env bash
# Installs everything the build and the Wine test rig need on a Debian 12 machine.
# Safe to run again: it does nothing when every package is present.
set -euo pipefail

pkgs=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick
      locales fonts-ipafont-gothic fonts-wine cmake make googletest python3 clang libclang-rt-14-dev cppcheck
      osslsigncode openssl unzip
      # the packaging tests read the winget manifests back
      python3-yaml
      # the packaging tests sign through PKCS#11 with a software token
      softhsm2 libengine-pkcs11-openssl)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the ANSI code page from the locale: ja_JP.UTF-8 gives code page
# 932; en_US.UTF-8 gives a Western one for the runs under a foreign code page.
need_gen=0
for loc in ja_JP en_US; do
  locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$" || need_gen=1
done
if [ "$need_gen" = 1 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  for loc in ja_JP en_US; do
    $SUDO sed -i "s/^# *\(${loc}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${loc}.UTF-8 UTF-8" /etc/locale.gen || echo "${loc}.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen >/dev/null
fi

# 32-bit programs: the i686 build is the one makers ship, and its tests need
# Wine's 32-bit loader. Where the kernel runs no 32-bit code, Debian's
# qemu-user-static runs it instead, registered with binfmt_misc; it is slow
# (tools/test.sh then runs a chosen part of the i686 tests), but it runs.
# DEPS_EMULATE_32BIT=1 registers the emulator even where the kernel runs
# 32-bit code itself, to try that route: binfmt_misc handlers come before
# the kernel's own loader, so every 32-bit program of the machine is then
# emulated, until `echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386` removes it.
# Inside `unshare --user --map-root-user --mount` (Linux 6.7 and later) the
# handler is the namespace's own and nothing else on the machine changes.
runs32=$("$(dirname "$0")/runs32.sh")
if [[ $runs32 == none:* ]] || { [ "${DEPS_EMULATE_32BIT:-}" = 1 ] && [[ $runs32 == native:* ]]; }; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  misc=/proc/sys/fs/binfmt_misc
  qemu=/usr/bin/qemu-i386-static
  why=""
  if [ ! -x "$qemu" ]; then
    { $SUDO apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null; } ||
      why="qemu-user-static could not be installed"
  fi
  if [ -z "$why" ] && [ ! -e "$misc/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || why="binfmt_misc cannot be mounted here"
  fi
  if [ -z "$why" ]; then
    if [ -e "$misc/qemu-i386" ]; then
      why="a handler named qemu-i386 is registered already but does not run them"
    else
      # qemu's own magic and mask for 32-bit x86 ELF programs and shared
      # objects (binfmt_misc reads the \x escapes itself); F opens the
      # emulator now, so that it serves every mount namespace and chroot too.
      magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
      mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
      echo ":qemu-i386:M::$magic:$mask:$qemu:F" | $SUDO tee "$misc/register" >/dev/null 2>&1 ||
        why="the emulator could not be registered with binfmt_misc"
    fi
  fi
  runs32=$("$(dirname "$0")/runs32.sh")
  [ -z "$why" ] || runs32="$runs32; $why"
fi
case $runs32 in
native:*) echo "deps: 32-bit code runs natively (${runs32#*: })" ;;
emulated:*) echo "deps: 32-bit code runs emulated (${runs32#*: }): the i686 tests run their chosen part" ;;
*) echo "deps: 32-bit code does not run at all (${runs32#*: }): the i686 tests that start a program are skipped" ;;
esac
