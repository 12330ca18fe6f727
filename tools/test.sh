#!/usr/bin/env bash
# Builds the cross preset and runs the whole suite under Wine. Extra arguments go to ctest
# (for example -R Log). BUILD_DIR picks another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

export BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
tools/build.sh

. tools/winebed.sh
trap winebed_stop EXIT
winebed_start

cd "$BUILD_DIR"
ctest --output-on-failure -j 4 --timeout 600 "$@"
