#!/usr/bin/env bash
# The build command: installs what is missing, then builds the Linux and the Windows presets.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
done
