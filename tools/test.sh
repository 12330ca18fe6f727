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
# The end-to-end group has a prefix of its own (tests/CMakeLists.txt), so that it runs beside the
# serial unit tests; so has the package's install test.
winebed_start "$BUILD_DIR/wineprefix-e2e" "$BUILD_DIR/wineprefix-msi"

cd "$BUILD_DIR"
ctest --output-on-failure -j 4 --timeout 600 "$@"
