#!/usr/bin/env bash
# Installs what the cross build and the Wine test bed need, when it is missing (Debian 12, root).
set -euo pipefail

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
command -v Xvfb >/dev/null 2>&1 || missing+=(xvfb)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
command -v clang++ >/dev/null 2>&1 || missing+=(clang)
command -v xmllint >/dev/null 2>&1 || missing+=(libxml2-utils)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# The scraper of the metrics test: its textfile collector reads what windows_exporter's reads.
command -v prometheus-node-exporter >/dev/null 2>&1 || missing+=(prometheus-node-exporter)

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
