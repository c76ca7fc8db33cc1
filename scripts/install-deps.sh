#!/usr/bin/env bash
# Installs what building and testing Vesperlin needs on Debian 12, and only what is missing.
# Quiet when everything is already there.
set -euo pipefail
# clang and libclang-rt-14-dev: the fuzz targets (libFuzzer); clang-format: the format check;
# dpkg-dev (dpkg-shlibdeps), lintian, unzip, man-db and bash-completion: making the packages and
# checking them as installed.
packages=(cmake ninja-build g++ googletest mingw-w64 wine wine64 xvfb xdotool x11-apps imagemagick psmisc lsof procps
          clang libclang-rt-14-dev clang-format dpkg-dev lintian unzip man-db bash-completion)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
