#!/usr/bin/env bash
# Runs one end-to-end case of lumo.exe under Wine on a private Xvfb display.
#   run_e2e.sh CASE_DIR LUMO_EXE DRIVE_EXE ARTEFACT_DIR
# CASE_DIR holds the case's main.lum (and any other .lum it imports) and steps.sh, which this script
# sources after lumo's window is up. An optional setup.sh is sourced before lumo starts, with the
# case's files already in $work (the folder lumo.exe runs from); it may set start_exe to start another
# copy of lumo.exe under $work. steps.sh calls:
#   drive STEP...      lumo_drive.exe with the steps (see tests/e2e/driver/lumo_drive.cpp)
#   shot NAME          a screenshot of the display, kept as ARTEFACT_DIR/CASE-NAME.png
#   opened             prints the links lumo handed to its opener, one a line
#   start_lumo [EXE]   starts lumo.exe again (or another copy of it) after it has ended
#   stop_at_exit PID   a process the case started, stopped by this script at the end
# Uses the Wine prefix of $WINEPREFIX (scripts/test.sh provides a throwaway one); without it a
# throwaway prefix is made here. Everything started here is stopped by process id.
set -euo pipefail

case_dir=$(cd "$1" && pwd)
lumo_exe=$2
drive_exe=$3
artefacts=$4
case_name=$(basename "$case_dir")

find_tool() {
  command -v "$1" 2>/dev/null || { [[ -x "/usr/lib/wine/$1" ]] && echo "/usr/lib/wine/$1"; } || true
}
wine64_bin=$(find_tool wine64)
wineserver_bin=$(find_tool wineserver)
[[ -n "$wine64_bin" && -n "$wineserver_bin" ]] || { echo "run_e2e: wine64 not found" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "run_e2e: Xvfb not found" >&2; exit 1; }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
own_prefix=""
if [[ -z "${WINEPREFIX:-}" ]]; then
  own_prefix=$(mktemp -d)
  export WINEPREFIX="$own_prefix/prefix"
  mkdir -p "$WINEPREFIX"
  (unset DISPLAY; "$wine64_bin" wineboot --init >/dev/null 2>&1 || true)
fi

work=""
xvfb_pid=""
lumo_pid=""
case_pids=()
# Ends a process started here: politely, then for sure.
stop_pid() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  local status=$?
  set +e
  if [[ -n "$work" ]]; then
    for pid in $(lumo_process); do stop_pid "$pid"; done
  fi
  [[ -n "$lumo_pid" ]] && stop_pid "$lumo_pid"
  for pid in "${case_pids[@]}"; do stop_pid "$pid"; done
  [[ -n "$xvfb_pid" ]] && stop_pid "$xvfb_pid"
  if [[ "$status" != 0 && -s "$work/lumo.out" ]]; then
    echo "run_e2e: lumo.exe said:" >&2
    tail -n 40 "$work/lumo.out" >&2
  fi
  [[ -n "$work" ]] && rm -rf "$work"
  if [[ -n "$own_prefix" ]]; then
    "$wineserver_bin" -k 2>/dev/null
    rm -rf "$own_prefix"
  fi
  exit "$status"
}
trap cleanup EXIT

# The prefix's font substitutes and window decoration, once per prefix.
marker="$WINEPREFIX/lumo-e2e-prefix.done"
if [[ ! -e "$marker" ]]; then
  reg_file="$WINEPREFIX/drive_c/lumo-e2e-prefix.reg"
  mkdir -p "$WINEPREFIX/drive_c"
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$(dirname "$0")/prefix.reg"; } >"$reg_file"
  "$wine64_bin" regedit /S 'C:\lumo-e2e-prefix.reg' >/dev/null 2>&1
  rm -f "$reg_file"
  touch "$marker"
fi

mkdir -p "$WINEPREFIX/drive_c" "$artefacts"
work=$(mktemp -d "$WINEPREFIX/drive_c/lumo-e2e-$case_name.XXXXXX")
cp "$lumo_exe" "$work/lumo.exe"
for script in "$case_dir"/*.lum; do
  [[ -e "$script" ]] && cp "$script" "$work/"
done
cp "$drive_exe" "$work/lumo_drive.exe"
link_log="$work/opened.txt"

display_file="$work/display"
Xvfb -displayfd 9 -screen 0 640x480x24 -nolisten tcp 9>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$display_file" ]] && break
  sleep 0.1
done
[[ -s "$display_file" ]] || { echo "run_e2e: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$display_file")"

# lumo runs on a desktop of its own, whose explorer draws on this display: the prefix's default
# desktop may belong to a process started without one, or to an earlier test's display. A new start
# gets a new desktop: the last one's explorer may still be looking after it.
starts=0
desktop=""
start_lumo() {
  local exe=${1:-${start_exe:-$work/lumo.exe}}
  [[ -n "$lumo_pid" ]] && case_pids+=("$lumo_pid")
  starts=$((starts + 1))
  desktop="lumo-e2e-$$-$starts"
  # Started from its own folder, as a double-click in Explorer starts it: the script's relative
  # paths (logs) land beside it.
  (cd "$(dirname "$exe")" &&
    LUMO_LINK_LOG="$link_log" exec "$wine64_bin" explorer "/desktop=$desktop,640x480" "$exe") \
    >>"$work/lumo.out" 2>&1 &
  lumo_pid=$!
}
stop_at_exit() {
  case_pids+=("$1")
}

drive() {
  echo "drive $*"
  "$wine64_bin" "$work/lumo_drive.exe" desktop "$desktop" "$@"
}
shot() {
  sleep 0.5
  import -display "$DISPLAY" -window root "$artefacts/$case_name-$1.png"
}
opened() {
  [[ -e "$link_log" ]] && cat "$link_log"
  true
}
# The process id of this test's lumo.exe, anywhere under $work: Wine shows it by its Windows path,
# with backslashes.
lumo_process() {
  pgrep -f "$(basename "$work")\\\\.*lumo\\.exe" || true
}
# After a close: lumo.exe has ended when no process runs it any more (explorer stays a little
# longer to look after the desktop, and is stopped with the display).
wait_lumo_exit() {
  for _ in $(seq 200); do
    [[ -z "$(lumo_process)" ]] && return 0
    sleep 0.1
  done
  echo "run_e2e: lumo.exe did not end" >&2
  return 1
}

if [[ -e "$case_dir/setup.sh" ]]; then
  # shellcheck source=/dev/null
  source "$case_dir/setup.sh"
fi
start_lumo
drive wait-main
# shellcheck source=/dev/null
source "$case_dir/steps.sh"
echo "run_e2e: $case_name passed"
