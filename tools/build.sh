#!/usr/bin/env bash
# Installs what is missing, configures the cross build once and builds it. Arguments name targets
# (all when none). BUILD_DIR picks the build folder (default build/cross).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

tools/ensure-deps.sh

BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    # The preset holds the generator, the toolchain and the build type; -B puts the build where
    # BUILD_DIR says instead of the preset's own folder (CMake lets the command line win).
    cmake --preset cross -B "$BUILD_DIR"
fi
targets=()
for target in "$@"; do
    targets+=(--target "$target")
done
# A CMakeLists.txt changed since the folder was configured (a program added, say) is read again
# only when everything is built: until then a new target would be unknown.
if [ ${#targets[@]} -gt 0 ] && [ -f "$BUILD_DIR/Makefile" ]; then
    cmake --build "$BUILD_DIR" --target cmake_check_build_system >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
