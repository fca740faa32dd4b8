#!/usr/bin/env bash
# Runs lumo on the shipped sample script (after scripts/build.sh):
#   on Windows (Git Bash, MSYS2)   lumo.exe
#   on Linux with a display        lumo.exe under Wine (wine64), in the user's own Wine prefix
#   on Linux without a display     lumo-cli in this terminal
# lumo.exe loads main.lum from its own folder; the build puts the chat script (irc/) beside it. The
# program starts in that folder, as a double click would, so that the script's logs\ land there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

exe=$root/build/windows/bin/lumo.exe
case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*)
    cd "$(dirname "$exe")"
    exec "$exe"
    ;;
esac

wine64_bin=$(command -v wine64 2>/dev/null || { [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64; } || true)
if [[ -n "${DISPLAY:-}" && -n "$wine64_bin" && -x "$exe" ]]; then
  cd "$(dirname "$exe")"
  exec "$wine64_bin" "$exe"
fi
cd "$root/build/native/bin"
exec ./lumo-cli --utf8 --connect main.lum
