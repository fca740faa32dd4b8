#!/usr/bin/env bash
# Makes the Windows package build/windows/package/lumo-VERSION-win64.zip: lumo.exe with the chat
# script, the UTF-8 extension and the documentation in one folder. Unzipped anywhere, it runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows >/dev/null
# Only what the package holds; the tests are not needed for it.
cmake --build --preset windows -j "$(nproc)" --target lumo lumo_utf8
cd build/windows
cpack --config CPackConfig.cmake -G ZIP
