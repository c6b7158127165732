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
