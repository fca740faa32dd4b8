#!/usr/bin/env bash
# Runs a Win32 window test under Wine on a private Xvfb display:
#   run_window_test.sh WINE64 PROGRAM.exe ARTEFACT_DIR
# The program gets ARTEFACT_DIR (as a Windows path) and saves its pictures there as .bmp; they are
# converted to .png beside them. Uses $WINEPREFIX when set (scripts/test.sh makes a throwaway one),
# else a temporary prefix of its own. "ＭＳ ゴシック" is mapped to IPA Gothic in the prefix.
set -euo pipefail
wine=$1
program=$2
artefacts=$3
mkdir -p "$artefacts"
wineserver=$(dirname "$wine")/wineserver
command -v "$wineserver" >/dev/null 2>&1 || wineserver=$(command -v wineserver)

scratch=$(mktemp -d)
xvfb_pid=""
own_prefix=""
cleanup() {
  if [[ -n "$own_prefix" ]]; then
    "$wineserver" -k 2>/dev/null || true
  fi
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

if [[ -z "${WINEPREFIX:-}" ]]; then
  own_prefix="$scratch/prefix"
  export WINEPREFIX="$own_prefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}

# A display of our own; Xvfb writes its number to the pipe once it accepts clients.
mkfifo "$scratch/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 30 number <"$scratch/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"

# The Japanese UI font: "ＭＳ ゴシック" (and its ASCII name) as IPA Gothic. The .reg file is UTF-16.
{
  printf '\xff\xfe'
  printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n%s\r\n%s\r\n' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' \
    '"ＭＳ ゴシック"="IPAGothic"' '"MS Gothic"="IPAGothic"' | iconv -f UTF-8 -t UTF-16LE
} >"$scratch/fonts.reg"
"$wine" regedit /S "$(echo "Z:$scratch/fonts.reg" | tr / '\\')" >/dev/null 2>&1

# The program runs on a desktop of its own, whose explorer draws on this display: the prefix's
# default desktop may belong to a process started without one. Explorer does not pass the
# program's exit status on, so the program's last line tells.
windows_artefacts=$(echo "Z:$(cd "$artefacts" && pwd)" | tr / '\\')
"$wine" explorer "/desktop=lumo-test-$$,1024x768" "$program" "$windows_artefacts" |
  tee "$scratch/output" || true
status=1
[[ "$(tail -n 1 "$scratch/output" | tr -d '\r')" == "all passed" ]] && status=0

for bitmap in "$artefacts"/*.bmp; do
  [[ -e "$bitmap" ]] || continue
  if command -v convert >/dev/null 2>&1; then
    convert "$bitmap" "${bitmap%.bmp}.png" && echo "picture: ${bitmap%.bmp}.png"
  fi
done
exit "$status"
