#!/usr/bin/env bash
# Builds HangDouble.cpp as <out>/Tamrix.exe with its names in <out>/Tamrix.pdb only, on the host:
# clang for the MinGW target with CodeView debug information, linked by lld with the MinGW GCC's
# C++ library. Wine's dbghelp reads DWARF as well, which Windows' never does: so the DWARF that
# the MinGW libraries bring along is stripped, and the "debug stripped" flag that strip sets in the
# file header is cleared again, since with it Wine's dbghelp looks for a .DBG file instead of the
# PDB. The image names its PDB without a folder: Wine's dbghelp would follow a full path to the
# build folder whatever it is told, and find names that no PDB beside the double gave.
#   BuildHangDouble.sh <clang++> <target triple> <strip> <GCC library folder> <output folder>
#                      <HangDouble.cpp> <kit folder> <C++ include folders, ;-separated>
set -euo pipefail
CLANGXX=$1 TARGET=$2 STRIP=$3 GCC_LIB=$4 OUT=$5 SOURCE=$6 KIT=$7 INCLUDES=$8
[ -x "$(command -v "$CLANGXX")" ] || { echo "clang++ not found (tools/ensure-deps.sh)" >&2; exit 1; }
command -v ld.lld >/dev/null || { echo "ld.lld not found: install lld (tools/ensure-deps.sh)" >&2; exit 1; }
mkdir -p "$OUT"
WORK=$(mktemp -d "$OUT/build.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
includes=()
IFS=';' read -ra folders <<<"$INCLUDES"
for folder in "${folders[@]}"; do includes+=(-isystem "$folder"); done
"$CLANGXX" --target="$TARGET" -std=c++20 -O0 -g -gcodeview -Wall -Wextra -Werror \
    "${includes[@]}" -I"$KIT" -mwindows -static -fuse-ld=lld -L"$GCC_LIB" \
    -Wl,--pdb="$WORK/Tamrix.pdb" -Wl,-Xlink=-pdbaltpath:%_PDB% \
    "$SOURCE" "$KIT/KorvelLink.cpp" -o "$WORK/Tamrix.exe" -lpthread
"$STRIP" --strip-debug "$WORK/Tamrix.exe"
# Characteristics: 2 bytes, 18 bytes into the file header, which follows the "PE\0\0" signature at
# the offset the DOS header holds at 0x3C.
header=$(od -An -t u4 -j 60 -N 4 "$WORK/Tamrix.exe" | tr -d ' ')
at=$((header + 4 + 18))
flags=$(od -An -t u2 -j "$at" -N 2 "$WORK/Tamrix.exe" | tr -d ' ')
flags=$((flags & ~0x0200))
printf "$(printf '\\%03o\\%03o' $((flags & 0xFF)) $((flags >> 8)))" |
    dd of="$WORK/Tamrix.exe" bs=1 seek="$at" conv=notrunc status=none
mv -f "$WORK/Tamrix.pdb" "$OUT/Tamrix.pdb"
mv -f "$WORK/Tamrix.exe" "$OUT/Tamrix.exe"
