#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the program need.
# Idempotent: when everything is present it only checks.
set -euo pipefail

packages=(
  g++ cmake ninja-build ccache pkg-config lld
  libcrypto++-dev libcurl4-openssl-dev libssl-dev libuv1-dev libsqlite3-dev zlib1g-dev
  libflatbuffers-dev flatbuffers-compiler librsync-dev libb2-dev libspdlog-dev libfmt-dev
  libqrcodegencpp-dev libcpp-httplib-dev openssl curl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang-14 libclang-rt-14-dev clang-format
  qtbase5-dev qtdeclarative5-dev qtquickcontrols2-5-dev qtmultimedia5-dev libqt5svg5-dev
  qttools5-dev qttools5-dev-tools qtdeclarative5-dev-tools
  qml-module-qtquick2 qml-module-qtquick-controls2 qml-module-qtquick-layouts
  qml-module-qtquick-window2 qml-module-qtquick-shapes qml-module-qtquick-templates2
  qml-module-qtgraphicaleffects qml-module-qtquick-dialogs qml-module-qt-labs-platform
  qml-module-qtmultimedia qml-module-qttest qml-module-qtquick-controls
  xvfb xauth x11-apps imagemagick
  fonts-lato
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
