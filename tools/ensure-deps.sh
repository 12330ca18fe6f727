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
# lld links the Tamrix double whose names live in a PDB only; Debian's lld is the default version
# of the same LLVM release as its clang.
command -v ld.lld >/dev/null 2>&1 || missing+=(lld)
command -v xmllint >/dev/null 2>&1 || missing+=(libxml2-utils)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# The scraper of the metrics test: its textfile collector reads what windows_exporter's reads.
command -v prometheus-node-exporter >/dev/null 2>&1 || missing+=(prometheus-node-exporter)
# promtool, for the alert rules that ship beside korvel.
command -v promtool >/dev/null 2>&1 || missing+=(prometheus)
# The Windows Installer package: wixl builds it, msibuild adds the tables wixl lacks, msiinfo reads
# them back.
command -v wixl >/dev/null 2>&1 || missing+=(wixl)
command -v msibuild >/dev/null 2>&1 || missing+=(msitools)

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    # Only the tools are wanted: the packages' daemons must not start, and on a machine without
    # systemd a refused start would fail the install (prometheus' postinst exits on it). A policy
    # of our own, only while we install and only where the machine has none.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        trap '$sudo rm -f "$policy"' EXIT
        printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
        $sudo chmod 755 "$policy"
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
