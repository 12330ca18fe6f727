#!/usr/bin/env bash
# Builds the cross preset and runs the whole suite under Wine. Extra arguments go to ctest
# (for example -R Log). BUILD_DIR picks another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

tools/ensure-deps.sh

BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"

. tools/winebed.sh
trap winebed_stop EXIT
winebed_start

cd "$BUILD_DIR"
ctest --output-on-failure -j 4 --timeout 600 "$@"
