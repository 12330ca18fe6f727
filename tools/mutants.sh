#!/usr/bin/env bash
# Seeds the faults listed in tools/mutants.txt into a copy of the tree, one at a time: each is
# built and the tests that can see it are run; a fault that no test notices survived. Not part of
# make test. The copy (build/mutants/tree, the files git tracks as they are in the working tree)
# has its own build folder and Wine prefix, so the developer's build is left alone; a second run
# reuses them and builds only what changed.
#
#   tools/mutants.sh [list] [name regex]     e.g. tools/mutants.sh tools/mutants.txt 'metrics'
#
# Every entry is checked before anything is built: its file exists and its text occurs exactly
# once in it, or the run fails, so that the list cannot rot silently. The unchanged copy must pass
# the selected tests first (MUTANTS_NO_BASELINE=1 skips that). Exit code 0 when every fault was
# noticed, 1 when one survived or did not build, 2 for a broken list.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
LIST=${1:-tools/mutants.txt}
ONLY=${2:-}
WORK=${MUTANTS_DIR:-$ROOT/build/mutants}
TREE=$WORK/tree
export BUILD_DIR=$TREE/build/cross

die() {
    echo "mutants: $*" >&2
    exit 2
}

# ---- the list ----
names=() files=() finds=() replaces=() filters=() whats=()
add_entry() {
    [ -n "$name" ] || return 0
    [ -n "$file" ] && [ -n "$find" ] && [ -n "$what" ] ||
        die "$LIST: entry \"$name\" needs file, find and what"
    if [ -z "$ONLY" ] || [[ $name =~ $ONLY ]]; then
        names+=("$name") files+=("$file") finds+=("$find") replaces+=("$replace")
        filters+=("$filter") whats+=("$what")
    fi
}
[ -f "$LIST" ] || die "no list $LIST"
name="" file="" find="" replace="" filter="" what=""
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
    '' | '#'*) continue ;;
    esac
    key=${line%%:*}
    value=${line#*:}
    value=${value# }
    # "\n" in a text stands for a line break.
    value=${value//\\n/$'\n'}
    case $key in
    mutant)
        add_entry
        name=$value file="" find="" replace="" filter="" what=""
        ;;
    file) file=$value ;;
    find) find=$value ;;
    replace) replace=$value ;;
    tests) filter=$value ;;
    what) what=$value ;;
    *) die "$LIST: unknown line: $line" ;;
    esac
done <"$LIST"
add_entry
[ ${#names[@]} -gt 0 ] || die "no mutant in $LIST matches \"$ONLY\""

# The file's text byte for byte, in REPLY: handed back through a command substitution, it would
# lose its final line ends, as any substitution's output does.
read_text() {
    REPLY=$(cat "$1" && printf x)
    REPLY=${REPLY%x}
}
count_of() { # text, piece
    local rest=${1//"$2"/}
    echo $(((${#1} - ${#rest}) / ${#2}))
}
for i in "${!names[@]}"; do
    [ -f "$ROOT/${files[$i]}" ] || die "${names[$i]}: no file ${files[$i]}"
    read_text "$ROOT/${files[$i]}"
    n=$(count_of "$REPLY" "${finds[$i]}")
    [ "$n" -eq 1 ] || die "${names[$i]}: its text occurs $n times in ${files[$i]}, not once"
done

# ---- the copy, its build and its Wine bed ----
mkdir -p "$TREE"
git ls-files -z | while IFS= read -r -d '' f; do
    [ -f "$f" ] || continue
    if ! cmp -s "$f" "$TREE/$f"; then
        mkdir -p "$(dirname "$TREE/$f")"
        cp "$f" "$TREE/$f"
    fi
done
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    (cd "$TREE" && cmake --preset cross -B "$BUILD_DIR" "${launcher[@]}" >"$WORK/configure.log") ||
        die "the copy does not configure: $WORK/configure.log"
fi
build() { cmake --build "$BUILD_DIR" -j "$(nproc)" >"$WORK/build.log" 2>&1; }
echo "mutants: building the copy in $TREE"
build || die "the unchanged copy does not build: $WORK/build.log"

cd "$TREE"
. tools/winebed.sh
trap winebed_stop EXIT
winebed_start "$BUILD_DIR/wineprefix-e2e" "$BUILD_DIR/wineprefix-msi"

run_tests() { # filter, log
    local args=(--timeout 300 -j 2)
    [ -z "$1" ] || args+=(-R "$1")
    (cd "$BUILD_DIR" && ctest "${args[@]}" >"$2" 2>&1)
}
union=""
for i in "${!names[@]}"; do
    f=${filters[$i]}
    if [ -n "$f" ]; then
        count=$(cd "$BUILD_DIR" && ctest -N -R "$f" | sed -n 's/^Total Tests: //p')
        [ "${count:-0}" -gt 0 ] || die "${names[$i]}: no test matches \"$f\""
    fi
    if [ -z "$f" ] || [ "$union" = "*" ]; then
        union="*"
    else
        union="${union:+$union|}($f)"
    fi
done
if [ -z "${MUTANTS_NO_BASELINE:-}" ]; then
    echo "mutants: the unchanged copy against the selected tests"
    [ "$union" = "*" ] && union=""
    run_tests "$union" "$WORK/baseline.log" ||
        die "the unchanged copy fails the selected tests: $WORK/baseline.log"
fi

# ---- one fault at a time ----
killed=0 survived=0 unbuilt=0
for i in "${!names[@]}"; do
    target=$TREE/${files[$i]}
    read_text "$ROOT/${files[$i]}"
    printf '%s' "${REPLY/"${finds[$i]}"/"${replaces[$i]}"}" >"$target"
    # The copy differs from the file by the mutation alone: not a byte more or less.
    size=$(($(wc -c <"$ROOT/${files[$i]}") + $(printf '%s' "${replaces[$i]}" | wc -c) -
        $(printf '%s' "${finds[$i]}" | wc -c)))
    [ "$(wc -c <"$target")" -eq "$size" ] ||
        die "${names[$i]}: the copy is not the file plus the fault"
    log=$WORK/${names[$i]}.log
    start=$SECONDS
    if ! build; then
        verdict="NO BUILD"
        unbuilt=$((unbuilt + 1))
        cp "$WORK/build.log" "$log"
    elif run_tests "${filters[$i]}" "$log"; then
        verdict="SURVIVED"
        survived=$((survived + 1))
    else
        verdict="killed"
        killed=$((killed + 1))
    fi
    # A fresh time stamp, so that the next build takes the file back.
    cp "$ROOT/${files[$i]}" "$target"
    printf '%-8s %-32s %4ss  %s\n' "$verdict" "${names[$i]}" $((SECONDS - start)) "${whats[$i]}"
done
echo "mutants: ${#names[@]} seeded, $killed killed, $survived survived, $unbuilt did not build" \
    "(logs in $WORK)"
[ $((survived + unbuilt)) -eq 0 ]
