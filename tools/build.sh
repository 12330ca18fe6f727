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
# The source globs are checked again only when everything is built: a program added since the
# folder was configured would be an unknown target until then.
if [ ${#targets[@]} -gt 0 ] && [ -f "$BUILD_DIR/Makefile" ]; then
    cmake --build "$BUILD_DIR" --target cmake_check_build_system >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
