#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the demo need.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libssl-dev openssl libcpp-httplib-dev tinyproxy nlohmann-json3-dev
  libpcre2-dev libicu-dev
  qt6-base-dev libgl-dev libxkbcommon-dev
  libjpeg62-turbo-dev libpng-dev libgif-dev zlib1g-dev
  gcc-mingw-w64-i686 binutils-mingw-w64-i686
  clang libclang-rt-14-dev
  xvfb xauth fonts-wqy-zenhei fonts-dejavu-core fontconfig
)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
