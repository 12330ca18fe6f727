#!/usr/bin/env bash
# The figures of hang_stack's walk (tests/bench/HangSiteBench.cpp) under Wine, in a prefix of its
# own: the double it walks pulses the fixed event names. Not part of make test. Arguments go to the
# benchmark (the number of hangs, default 25). BUILD_DIR picks another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

export BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
tools/build.sh hang_site_bench HangDouble

. tools/winebed.sh
export WINEPREFIX="$BUILD_DIR/wineprefix-bench"
trap winebed_stop EXIT
winebed_start
cd "$BUILD_DIR/bin"
"$WINE64" hang_site_bench.exe "$@" </dev/null
