#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and those named as
# arguments (the sanitizer and fuzz scripts add clang), when missing.
set -euo pipefail
packages=(g++ make cmake pkg-config libdevil-dev libpng-dev libgtest-dev time util-linux mount imagemagick e2fsprogs gimp python3-pil "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
