#!/usr/bin/env bash
# A soak of korvel under Wine: korvel supervises the Tamrix double, which hangs shortly after every
# start, for SOAK_S seconds (default 600), so that it kills and relaunches it over and over. Then it
# judges what a long unattended run must not show: a failed kill or start step or a given-up
# restart, more or fewer than one Tamrix left alive, korvel's handles or private memory growing.
#
#   SOAK_MODE=normal      (default) the double signals its start at once and hangs 2.5 s later
#   SOAK_MODE=slow-start  the double signals its start 2.5 s after launch, longer than the 1-2 s
#                         start-up wait korvel learns from startup_timeout=2, so every restart
#                         launches a second instance while the first is still starting
#
# Exit status 0 when every expectation holds, 1 when one fails, 2 on a usage error. The soak folder
# (korvel's log, its INI, the double's trace) is kept and its path printed. BUILD_DIR picks another
# build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

SOAK_S=${SOAK_S:-600}
SOAK_MODE=${SOAK_MODE:-normal}
if ! [[ "$SOAK_S" =~ ^[1-9][0-9]*$ ]]; then
    echo "soak: SOAK_S must be a positive number of seconds, not \"$SOAK_S\"" >&2
    exit 2
fi
case "$SOAK_MODE" in
normal | slow-start) ;;
*)
    echo "soak: SOAK_MODE must be normal or slow-start, not \"$SOAK_MODE\"" >&2
    exit 2
    ;;
esac

# What korvel's figures may move between the first measure and the last.
HANDLE_SLACK=5
MEMORY_SLACK=$((1024 * 1024))

export BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
tools/build.sh korvel TamrixDouble ProcessProbe

. tools/winebed.sh
# A prefix of its own: the soak's fixed event and mutex names must not meet a test run's.
export WINEPREFIX="$BUILD_DIR/wineprefix-soak"

SOAK=$(mktemp -d /tmp/korvel-soak.XXXXXX)
APP=$SOAK/app
mkdir -p "$APP/logs" "$APP/korvel"
cp "$BUILD_DIR/bin/TamrixDouble.exe" "$APP/Tamrix.exe"
cp "$BUILD_DIR/bin/korvel.exe" "$APP/korvel/korvel.exe"
# Outside the install, so that korvel never sees it.
cp "$BUILD_DIR/bin/ProcessProbe.exe" "$SOAK/ProcessProbe.exe"
LOG=$APP/logs/korvel.log
INI=$APP/korvel/korvel.ini

# A double outlives the soak unless killed: a leftover instance must still be alive at the end.
lifetime_ms=$(((SOAK_S + 300) * 1000))
if [ "$SOAK_MODE" = normal ]; then
    startup_timeout=5
    script="main_stop_ms=2500"
else
    startup_timeout=2
    script="start_delay_ms=2500
main_stop_ms=5000"
fi
# auto_exit=0: after a given-up restart korvel stays, so the run goes on to its end and the give-up
# shows as a failed step instead of cutting the soak short.
cat >"$INI" <<EOF
[Options]
startup_timeout=$startup_timeout
main_timeout=1
call_stream_timeout=10
auto_exit=0
EOF
cat >"$APP/Tamrix.script" <<EOF
$script
lifetime_ms=$lifetime_ms
EOF

BED_STARTED=""
KORVEL_PID=""
KORVEL_W=""
TAMRIX_W=""

probe() {
    "$WINE64" "$SOAK/ProcessProbe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r' || true
}

# Stops korvel first, so that it relaunches nothing, then every double of this soak, each by its
# handle through the probe; the prefix's server then takes whatever is left.
stop_everything() {
    if [ -n "$BED_STARTED" ]; then
        [ -z "$KORVEL_W" ] || probe kill "$KORVEL_W" >/dev/null || true
        [ -z "$TAMRIX_W" ] || probe kill "$TAMRIX_W" >/dev/null || true
        winebed_stop
        BED_STARTED=""
    fi
    echo "soak: folder kept: $SOAK (log: $LOG)"
}
trap stop_everything EXIT
trap 'exit 130' INT TERM

winebed_start
BED_STARTED=1
windows_path() { "$WINE64" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
KORVEL_W=$(windows_path "$APP/korvel/korvel.exe")
TAMRIX_W=$(windows_path "$APP/Tamrix.exe")

log_count() { tr -d '\r' <"$LOG" 2>/dev/null | grep -cE "$1" || true; }
starts_done() { log_count 'Trying to start\.\.\..*success'; }
korvel_runs() { kill -0 "$KORVEL_PID" 2>/dev/null; }

wait_for_log() {
    local deadline=$((SECONDS + 60))
    until [ -f "$LOG" ] && grep -q "$1" "$LOG"; do
        if [ "$SECONDS" -ge "$deadline" ] || ! korvel_runs; then
            echo "soak: FAILED: korvel's log never showed \"$1\"" >&2
            exit 1
        fi
        sleep 0.2
    done
}

# Figures of one moment, taken just after a restart has succeeded, so that every sample finds
# korvel in the same phase (no launch or kill under way). Sets M_HANDLES, M_PRIVATE, M_ALIVE;
# M_HANDLES empty when korvel no longer runs.
PRIVATE_MEASURE=""
measure() {
    local before deadline line private usage
    before=$(starts_done)
    deadline=$((SECONDS + 30))
    while [ "$(starts_done)" -le "$before" ] && [ "$SECONDS" -lt "$deadline" ] && korvel_runs; do
        sleep 0.1
    done
    sleep 0.5
    M_ALIVE=$(probe count "$TAMRIX_W" | sed -n 's/^count=\([0-9]*\).*/\1/p')
    line=$(probe measure "$KORVEL_W" | head -n 1)
    M_HANDLES=$(sed -n 's/.* handles=\([0-9-]*\).*/\1/p' <<<"$line")
    usage=$(sed -n 's/.* private_bytes=\([0-9-]*\).*/\1/p' <<<"$line")
    private=$(sed -n 's/.* committed_private_bytes=\([0-9-]*\).*/\1/p' <<<"$line")
    # PrivateUsage reads 0 for another process under Wine: then the committed private regions
    # of korvel's address space stand in for it.
    if [ -n "$usage" ] && [ "$usage" -gt 0 ]; then
        M_PRIVATE=$usage
        PRIVATE_MEASURE="PrivateUsage"
    else
        M_PRIVATE=$private
        PRIVATE_MEASURE="committed private regions (VirtualQueryEx; PrivateUsage reads ${usage:-?})"
    fi
}

echo "soak: mode $SOAK_MODE, $SOAK_S s, folder $SOAK"
"$WINE64" "$APP/korvel/korvel.exe" </dev/null >/dev/null 2>&1 &
KORVEL_PID=$!
wait_for_log "Korvel started."
START=$SECONDS
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 &
wait_for_log "Process detected."

# The first figures after the first restart: by then korvel has launched once through the shell
# and holds what it keeps for the rest of its life.
measure
FIRST_HANDLES=$M_HANDLES
FIRST_PRIVATE=$M_PRIVATE
echo "soak: start: korvel handles ${FIRST_HANDLES:-?}, private ${FIRST_PRIVATE:-?} bytes," \
    "Tamrix alive ${M_ALIVE:-?}"

SAMPLE_S=$((SOAK_S / 6))
[ "$SAMPLE_S" -le 60 ] || SAMPLE_S=60
[ "$SAMPLE_S" -ge 10 ] || SAMPLE_S=10
next_sample=$((START + SAMPLE_S))
while [ "$SECONDS" -lt $((START + SOAK_S)) ] && korvel_runs; do
    # No sample close to the end, where the last measure follows anyway.
    if [ "$SECONDS" -ge "$next_sample" ] &&
        [ "$SECONDS" -lt $((START + SOAK_S - SAMPLE_S / 2)) ]; then
        measure
        echo "soak: $((SECONDS - START)) s: restarts $(log_count 'Trying to kill\.\.\.')," \
            "korvel handles ${M_HANDLES:-?}, private ${M_PRIVATE:-?} bytes, Tamrix alive ${M_ALIVE:-?}"
        next_sample=$((next_sample + SAMPLE_S))
    fi
    sleep 1
done

measure
DURATION=$((SECONDS - START))
LAST_HANDLES=$M_HANDLES
LAST_PRIVATE=$M_PRIVATE
ALIVE=${M_ALIVE:-0}
korvel_status="running"
korvel_runs || korvel_status="ended"
echo "soak: end: korvel handles ${LAST_HANDLES:-?}, private ${LAST_PRIVATE:-?} bytes," \
    "Tamrix alive $ALIVE, korvel $korvel_status"

RESTARTS=$(log_count 'Trying to kill\.\.\.')
LAUNCHES=$(tr -d '\r' <"$LOG" | grep -oE 'wait [0-9]+ sec\.\.\.' | wc -l || true)
SUCCESSES=$(starts_done)
FAILED=$(log_count 'Trying to kill\.\.\.failed|Trying to start\.\.\.(wait [0-9]+ sec\.\.\.)*failed|Restart failed\. Please run the application manually\.')

echo
echo "soak: mode $SOAK_MODE, duration $DURATION s (asked $SOAK_S s)"
echo "soak: restarts $RESTARTS (launches $LAUNCHES, of them unanswered $((LAUNCHES - SUCCESSES)))"
echo "soak: failed steps $FAILED"
echo "soak: Tamrix instances alive at the end $ALIVE"
echo "soak: korvel handles ${FIRST_HANDLES:-?} -> ${LAST_HANDLES:-?}"
echo "soak: korvel private bytes ${FIRST_PRIVATE:-?} -> ${LAST_PRIVATE:-?} ($PRIVATE_MEASURE)"

status=0
# verdict <expectation> <command...>: the expectation holds when the command succeeds.
verdict() {
    local expectation=$1
    shift
    if "$@"; then
        echo "soak: PASS  $expectation"
    else
        echo "soak: FAIL  $expectation"
        status=1
    fi
}
flat() {
    [ -n "$1" ] && [ -n "$2" ] && [ "$1" -ge 0 ] && [ $(($2 - $1)) -le "$3" ] &&
        [ $(($1 - $2)) -le "$3" ]
}
verdict "korvel still running at the end" [ "$korvel_status" = running ]
verdict "korvel restarted Tamrix ($RESTARTS times)" [ "$RESTARTS" -gt 0 ]
verdict "no failed step ($FAILED)" [ "$FAILED" -eq 0 ]
verdict "exactly one Tamrix alive ($ALIVE)" [ "$ALIVE" -eq 1 ]
verdict "handles flat (${FIRST_HANDLES:-?} -> ${LAST_HANDLES:-?}, at most $HANDLE_SLACK apart)" \
    flat "$FIRST_HANDLES" "$LAST_HANDLES" "$HANDLE_SLACK"
verdict "private memory flat (${FIRST_PRIVATE:-?} -> ${LAST_PRIVATE:-?} bytes, at most 1 MB apart)" \
    flat "$FIRST_PRIVATE" "$LAST_PRIVATE" "$MEMORY_SLACK"
if [ "$status" -eq 0 ]; then
    echo "soak: OK"
else
    echo "soak: FAILED"
fi
exit "$status"
