#!/usr/bin/env bash
# The test rig: one Xvfb display and one fresh Wine prefix per test run.
#   tools/rig.sh start DIR   boots a prefix in DIR and prints the environment
#                            (eval it); Xvfb and wineserver keep running
#                            (RIG_DESKTOP_TRACE=FILE: the desktop's process
#                            traces Program Manager's DDE commands into FILE)
#   tools/rig.sh stop DIR    ends the wineserver and the Xvfb of that run only
#   tools/rig.sh folders PREFIX   gives a booted prefix user folders of its own
#   tools/rig.sh boot PREFIX      boots a prefix of a test's own
set -euo pipefail
cmd=$1
dir=$(realpath -m "$2")

wine_env() {
  export WINEPREFIX="$dir/prefix" WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  export DISPLAY=$(cat "$dir/display")
  # Emulated, qemu-user gives a 32-bit program the whole 4 GB, and each start
  # of a 32-bit Wine process costs it two minutes of a processor, most of them
  # spent over the space above 2 GB, which the programs here never use (none
  # is large-address-aware). Measured on a start of CHECKINF.EXE: 133 s with
  # 4 GB, 29 s with 2.25 GB; below about 2.1 GB Wine's loader does not start.
  # The desktop's process has it too: the programs it starts inherit it.
  if [[ $("$(dirname "$0")/runs32.sh") == emulated:* ]]; then
    export QEMU_RESERVED_VA=0x90000000
  fi
}

# A copy of a booted prefix, into the prefix $1 that no wineserver serves
# yet, where 32-bit code runs only emulated: there the 32-bit half of a new
# prefix (its SysWOW64, which 32-bit programs make) takes minutes instead of
# seconds. One prefix per version of Wine is booted for every rig and copied.
# Elsewhere nothing, and the caller boots the prefix itself.
copy_booted() {
  [[ $("$(dirname "$0")/runs32.sh") == emulated:* ]] || return 1
  local template stamp
  template=$(realpath -m "$(dirname "$0")/../build/prefix-template")
  stamp="$(/usr/lib/wine/wine64 --version) $(stat -c %Y /usr/share/wine/wine.inf)"
  mkdir -p "$1" "$(dirname "$template")"
  (
    flock 9
    if [ "$(cat "$template.stamp" 2>/dev/null)" != "$stamp" ]; then
      rm -rf "$template"
      # Booted as the rig boots its own, whoever asks first.
      WINEPREFIX=$template WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
        LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
      WINEPREFIX=$template /usr/lib/wine/wineserver -w
      echo "$stamp" >"$template.stamp"
    fi
    cp -a "$template/." "$1/"
  ) 9>"$template.lock"
}

# Tests may boot prefixes of their own beside the rig's (prefix-*); their
# wineservers outlive the test by a few seconds and keep files open there.
end_side_prefixes() {
  local p
  for p in "$dir"/prefix-*; do
    [ -d "$p" ] && WINEPREFIX="$p" /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
}

# Wine links the user's Desktop, Documents and the like to the home directory
# of the machine. The tests write and list those folders, and anything else
# on the machine may write to the home directory meanwhile: the prefix gets
# folders of its own instead.
own_folders() {
  local link
  for link in "$1"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link"
      mkdir -p "$link"
    fi
  done
}

case "$cmd" in
folders)
  own_folders "$dir"
  ;;
boot)
  copy_booted "$dir" || WINEPREFIX=$dir /usr/lib/wine/wine64 wineboot -i
  ;;
start)
  # A rig still running in this directory is stopped first: its wineserver
  # and Xvfb would otherwise outlive the directory they belong to.
  [ -f "$dir/display" ] && "$0" stop "$dir"
  umount "$dir/smalldrive" 2>/dev/null || true  # a previous run's small drive
  end_side_prefixes
  rm -rf "$dir" 2>/dev/null || { sleep 3; rm -rf "$dir"; }
  mkdir -p "$dir"
  # The first free display number from 91 up.
  n=91
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  echo ":$n" >"$dir/display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  wine_env
  # One persistent wineserver for the whole run, started before anything
  # else so that it is the one every process uses: each test starts quickly.
  mkdir -p "$WINEPREFIX"
  copied=0
  copy_booted "$WINEPREFIX" && copied=1
  /usr/lib/wine/wineserver -p
  [ $copied = 1 ] || /usr/lib/wine/wine64 wineboot -i >"$dir/wineboot.log" 2>&1 || true
  # The RPC service never starts in the session that made the prefix, and
  # without it no process reaches another's COM objects (the desktop shell's,
  # through which Finish starts the product as the user): a new session.
  /usr/lib/wine/wineserver -k
  /usr/lib/wine/wineserver -p
  # The desktop's process starts with the first program that shows a window
  # and keeps that program's error output open for as long as the session
  # lasts: a test's, whose runner would then wait for it to the time-out.
  # Started now, it holds nothing of a test's.
  # RIG_DESKTOP_TRACE names a file where it traces the DDE commands that its
  # Program Manager executes (the trial tells Wine's refusals by them).
  if [ -n "${RIG_DESKTOP_TRACE:-}" ]; then
    WINEDEBUG=-all,trace+shell /usr/lib/wine/wine64 rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null \
      2>"$RIG_DESKTOP_TRACE" || true
  else
    /usr/lib/wine/wine64 rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  fi
  own_folders "$WINEPREFIX"
  # A nearly empty 50 MB drive S: for the wizard's free-space question.
  mkdir -p "$dir/smalldrive"
  if mount -t tmpfs -o size=50m tmpfs "$dir/smalldrive" 2>/dev/null; then
    ln -sfn "$dir/smalldrive" "$WINEPREFIX/dosdevices/s:"
  else
    echo "rig: mount not permitted, no small drive S: (its scenario is skipped)" >&2
  fi
  regs=(
    'HKCU\Software\Wine\X11 Driver' Managed REG_SZ N           # no window manager: do not wait for one
    'HKCU\Software\Wine\WineDbg' ShowCrashDialog REG_DWORD 0   # a crash fails the test, never hangs it
    'HKCU\Software\Wine' Version REG_SZ win7
    # The dialogs are laid out for the proportional Japanese system font; its
    # fixed-pitch stand-in would cut their texts short.
    'HKCU\Software\Wine\Fonts\Replacements' 'ＭＳ Ｐゴシック' REG_SZ IPAPGothic
    'HKCU\Software\Wine\Fonts\Replacements' 'ＭＳ ゴシック' REG_SZ IPAGothic
    # The sheet, captions and message boxes use MS Shell Dlg, which a
    # Japanese system (and Wine under code page 932) takes as MS UI Gothic;
    # left to Wine's fixed-pitch fallback, the sheet comes out narrower than
    # the pages it was sized for.
    'HKCU\Software\Wine\Fonts\Replacements' 'MS UI Gothic' REG_SZ IPAPGothic
  )
  for ((i = 0; i < ${#regs[@]}; i += 4)); do
    /usr/lib/wine/wine64 reg add "${regs[i]}" /v "${regs[i+1]}" /t "${regs[i+2]}" /d "${regs[i+3]}" /f >/dev/null 2>&1
  done
  # The caption buttons' symbols come from Marlett (fonts-wine); this Wine
  # does not look where that package puts it, only in the prefix's fonts.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null ||
    echo "rig: no /usr/share/wine/fonts/marlett.ttf (fonts-wine): caption buttons show letters" >&2
  # Wine ends its background services when no program of ours runs and
  # starts them again with the next one, which they would hand their output
  # to: a test would then wait for them to end. A program that waits for
  # ever, with its output nowhere, keeps them running for the whole run.
  setsid bash -c 'sleep 86400 | /usr/lib/wine/wine64 cmd /c pause' </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/keepalive.pid"
  echo "export WINEPREFIX='$WINEPREFIX' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 DISPLAY='$DISPLAY'${QEMU_RESERVED_VA:+ QEMU_RESERVED_VA=$QEMU_RESERVED_VA}"
  ;;
stop)
  [ -f "$dir/display" ] || exit 0
  wine_env
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  end_side_prefixes
  [ -f "$dir/keepalive.pid" ] && kill -- "-$(cat "$dir/keepalive.pid")" 2>/dev/null || true
  rm -f "$dir/keepalive.pid"
  umount "$dir/smalldrive" 2>/dev/null || true
  [ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
  rm -f "$dir/xvfb.pid"
  ;;
esac
