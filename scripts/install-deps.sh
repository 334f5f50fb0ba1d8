#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need. Run as root (or with sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PACKAGES=(
    qt6-base-dev libqt6sql6-sqlite libqt6sql6-mysql qt6-image-formats-plugins qt6-translations-l10n libsqlite3-dev sqlite3
    mariadb-server mariadb-client libxml2-dev libxml2-utils libmariadb-dev libzip-dev libssl-dev
    fonts-wqy-microhei xvfb xauth zip unzip p7zip-full python3 libgtest-dev cmake g++ make pkg-config
    openbox xdotool wmctrl x11-utils imagemagick
    clang libclang-rt-14-dev clang-format
)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
