#!/bin/sh
# Installs what Tessaline needs to build and test on Debian 12 (run as root).
# Packages that are already present are left alone.
set -e
pkgs="build-essential clang libclang-rt-14-dev cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev ffmpeg dvdauthor lsdvd"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi
