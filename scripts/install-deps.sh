#!/usr/bin/env bash
# Installs the Debian packages that building and testing lumo need, only those that are missing.
# Safe to run again and again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  googletest libbenchmark-dev libpcre2-dev
  g++-mingw-w64-x86-64-posix wine64 xvfb
  imagemagick fonts-ipafont-gothic ngircd python3
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} > 0)); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Windows build wants the posix thread model of MinGW-w64.
command -v x86_64-w64-mingw32-g++-posix >/dev/null || {
  echo "x86_64-w64-mingw32-g++-posix is missing after installation" >&2
  exit 1
}
