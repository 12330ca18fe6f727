#!/usr/bin/env bash
# Installs what is missing, configures the cross build once and builds it. Arguments name targets
# (all when none). BUILD_DIR picks the build folder (default build/cross).
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
targets=()
for target in "$@"; do
    targets+=(--target "$target")
done
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
