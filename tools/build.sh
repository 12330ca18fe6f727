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
cmake --build "$BUILD_DIR" -j "$(nproc)" "${targets[@]}"
