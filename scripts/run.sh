#!/usr/bin/env bash
# Runs lumo on the shipped sample script (after scripts/build.sh):
#   on Windows (Git Bash, MSYS2)   lumo.exe
#   on Linux with a display        lumo.exe under Wine (wine64), in the user's own Wine prefix
#   on Linux without a display     lumo-cli in this terminal
# lumo.exe loads main.lum from its own folder; the build puts the chat script (irc/) beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

exe=build/windows/bin/lumo.exe
case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*)
    exec "$exe"
    ;;
esac

wine64_bin=$(command -v wine64 2>/dev/null || { [[ -x /usr/lib/wine/wine64 ]] && echo /usr/lib/wine/wine64; } || true)
if [[ -n "${DISPLAY:-}" && -n "$wine64_bin" && -x "$exe" ]]; then
  exec "$wine64_bin" "$exe"
fi
exec build/native/bin/lumo-cli --utf8 --connect build/native/bin/main.lum
