#!/usr/bin/env bash
# The test command: installs what is missing, builds every preset and runs every test.
#   native       all unit tests natively
#   native-asan  the same under AddressSanitizer + UndefinedBehaviorSanitizer
#   native-tsan  the same under ThreadSanitizer
#   windows      the cross-built tests under Wine, in a throwaway Wine prefix
# LUMO_TEST_PRESETS="native windows" limits the run to some presets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=${LUMO_TEST_PRESETS:-"native native-asan native-tsan windows"}
jobs=$(nproc)

# Debian's wine64 package keeps wine64 and wineserver under /usr/lib/wine and puts nothing on PATH;
# the wine package would add them there. Either way works.
find_tool() {
  command -v "$1" 2>/dev/null || { [[ -x "/usr/lib/wine/$1" ]] && echo "/usr/lib/wine/$1"; } || true
}
wine64_bin=$(find_tool wine64)
wineserver_bin=$(find_tool wineserver)

# Every command the chosen presets need, checked before anything is built.
# python3 runs the documentation and chat-script tests, ngircd is their local chat server; the
# window tests start Xvfb and take screenshots with ImageMagick's import.
needed=(cmake ctest ninja python3 ngircd)
[[ " $presets " == *" windows "* ]] && needed+=(x86_64-w64-mingw32-g++-posix Xvfb import)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || { echo "scripts/test.sh: $tool not found" >&2; exit 1; }
done
if [[ " $presets " == *" windows "* ]]; then
  [[ -n "$wine64_bin" ]] || { echo "scripts/test.sh: wine64 not found (Debian package wine64)" >&2; exit 1; }
  [[ -n "$wineserver_bin" ]] || { echo "scripts/test.sh: wineserver not found (Debian package wine64)" >&2; exit 1; }
fi

wine_prefix_root=""
cleanup() {
  if [[ -n "$wine_prefix_root" ]]; then
    WINEPREFIX="$wine_prefix_root/prefix" "$wineserver_bin" -k 2>/dev/null || true
    rm -rf "$wine_prefix_root"
  fi
}
trap cleanup EXIT

start_wine() {
  wine_prefix_root=$(mktemp -d)
  export WINEPREFIX="$wine_prefix_root/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  # One server for the whole run: left to itself it quits a few seconds after its last client, and a
  # test starting in that moment fails with "recvmsg: Connection reset by peer". The prefix's
  # services start here, with their output away from the tests' pipes, and live as long as it.
  mkdir -p "$WINEPREFIX"
  "$wineserver_bin" -p
  "$wine64_bin" wineboot --init >/dev/null 2>&1 || true
}

for preset in $presets; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  if [[ "$preset" == windows ]]; then
    start_wine
  fi
  ctest --preset "$preset" -j "$jobs"
done
