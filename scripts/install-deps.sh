#!/usr/bin/env bash
# Installs the Debian packages that building and testing Sundry needs, and
# only those that are missing. Runs apt-get through sudo when not root.
set -euo pipefail

packages=(
  cmake make g++ pkg-config git
  libsqlite3-dev sqlite3
  libcrypto++-dev
  libcli11-dev
  libspdlog-dev libfmt-dev
  libgtest-dev libgmock-dev
  libbenchmark-dev
  openssl
  liblnk-utils
  python3-serial
  unrtf
  e2fsprogs util-linux mount
  xvfb x11-utils
)

# --windows: also what the Windows cross-build and its Wine test run need.
if [ "${1:-}" = "--windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix googletest wine64 xvfb python3)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
