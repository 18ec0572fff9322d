#!/usr/bin/env bash
# Installs the Debian packages Tabulon needs to build, test and make its fixtures.
# Checks with dpkg first so that a second run costs nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libfmt-dev nlohmann-json3-dev libblkid-dev
  clang-14 libclang-rt-14-dev
  dosfstools mtools util-linux fdisk
  python3 python3-xlwt python3-xlrd python3-olefile
)
if [[ "${1:-}" == "--gui" ]]; then
  packages+=(qt6-base-dev fonts-wqy-microhei xvfb)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
