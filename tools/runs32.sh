#!/usr/bin/env bash
# How this machine runs 32-bit x86 programs, Wine's 32-bit loader among them.
# Prints one line, the way first and then why:
#   native: ...    the kernel runs them itself
#   emulated: ...  a binfmt_misc handler (Debian's qemu-user-static) runs them,
#                  many times slower to start a Wine process (tools/rig.sh)
#   none: ...      neither
# The kernel asks the binfmt_misc handlers before its own ELF loader, so a
# handler that takes 32-bit programs makes them emulated even where the
# kernel could run them itself.
set -u
loader=/usr/lib/wine/wine
misc=/proc/sys/fs/binfmt_misc
[ -f "$loader" ] || { echo "none: no 32-bit Wine loader $loader (tools/deps.sh installs wine32)"; exit 0; }

# The enabled handler whose magic, under its mask, matches the loader's header.
handler="" interpreter=""
if [ "$(cat "$misc/status" 2>/dev/null)" = enabled ]; then
  header=$(od -An -v -tx1 -N128 "$loader" | tr -d ' \n')
  for entry in "$misc"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    state="" offset=0 magic="" mask="" path=""
    while read -r key value; do
      case $key in
      enabled | disabled) state=$key ;;
      interpreter) path=$value ;;
      offset) offset=$value ;;
      magic) magic=$value ;;
      mask) mask=$value ;;
      esac
    done <"$entry" 2>/dev/null
    [ "$state" = enabled ] && [ -n "$magic" ] || continue
    match=1
    for ((i = 0; i < ${#magic}; i += 2)); do
      byte=${header:$((offset * 2 + i)):2}
      bits=$((16#${mask:i:2}))
      [ -n "${mask:i:2}" ] || bits=255
      [ -n "$byte" ] && (((16#$byte & bits) == (16#${magic:i:2} & bits))) || { match=0; break; }
    done
    if [ $match = 1 ]; then handler=${entry##*/} interpreter=$path; break; fi
  done
fi

if out=$("$loader" --version 2>&1); then
  if [ -n "$handler" ]; then
    echo "emulated: the binfmt_misc handler $handler runs them through $interpreter"
  else
    echo "native: the kernel runs them"
  fi
elif [ -n "$handler" ]; then
  echo "none: the binfmt_misc handler $handler ($interpreter) does not start the loader: ${out##*: }"
elif [[ $out == *"Exec format error"* ]]; then
  echo "none: the kernel refuses them (Exec format error) and no binfmt_misc handler takes them"
else
  echo "none: the 32-bit loader does not start: ${out##*: }"
fi
