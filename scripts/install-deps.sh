#!/usr/bin/env bash
# Installs everything Valdrune needs to build, test and run its demo on Debian 12.
# Non-interactive and idempotent: packages already present are left as they are. Asks for root
# (sudo) only when something is missing.
#   --with-browsers   also the browsers the tool detects (firefox-esr, chromium), so that a test
#                     run proves the suite does not depend on what is installed
#   --windows         also the cross compiler, Wine and NSIS for the Windows build
#                     (scripts/build-qt-windows.sh, the windows preset, its setup program)
set -euo pipefail
# shellcheck source=lib/rights.sh
source "$(dirname "$0")/lib/rights.sh"

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-l10n-tools qt6-svg-dev libgl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libcli11-dev nlohmann-json3-dev libpcap-dev libx11-dev libnftables-dev libssl-dev
    iproute2 iputils-ping libcap2-bin procps nftables chromium
    xvfb xauth fonts-noto-cjk fonts-dejavu-core
    dpkg-dev fakeroot file ccache
)
for arg in "$@"; do
    case $arg in
        --with-browsers) packages+=(firefox-esr chromium) ;;
        --windows)
            packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
                       binutils-mingw-w64-x86-64 wine wine64 util-linux nsis) ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    vd_as_root apt-get update -qq
    vd_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
