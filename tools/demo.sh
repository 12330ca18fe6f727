#!/usr/bin/env bash
# Shows korvel supervising the sample application under Wine. The sample, installed as Tamrix.exe,
# starts and pulses; its first instance hangs, korvel kills it and starts it again; the second
# instance later shuts down cleanly and korvel ends by itself. Prints korvel's log as it grows,
# checks the story it tells, and keeps the demo folder. BUILD_DIR picks another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

export BUILD_DIR=${BUILD_DIR:-$ROOT/build/cross}
# Only what the demo runs: the test suite is not needed here.
tools/build.sh korvel SampleApp

. tools/winebed.sh
# A prefix of its own: the demo's fixed event and mutex names must not meet a test run's.
export WINEPREFIX="$BUILD_DIR/wineprefix-demo"
trap winebed_stop EXIT
trap 'exit 130' INT TERM

# The install layout korvel expects: the application one folder above korvel.
DEMO=$(mktemp -d /tmp/korvel-demo.XXXXXX)
APP=$DEMO/app
mkdir -p "$APP/logs" "$APP/korvel"
cp "$BUILD_DIR/bin/SampleApp.exe" "$APP/Tamrix.exe"
cp "$BUILD_DIR/bin/korvel.exe" "$APP/korvel/korvel.exe"
# The shipped, commented settings with short timeouts, so that the story fits in half a minute.
sed -e 's/^startup_timeout=.*/startup_timeout=5/' \
    -e 's/^main_timeout=.*/main_timeout=3/' \
    -e 's/^call_stream_timeout=.*/call_stream_timeout=5/' \
    -e 's/^auto_exit=.*/auto_exit=1/' \
    res/korvel.sample.ini >"$APP/korvel/korvel.ini"
cat >"$APP/Tamrix.demo" <<'EOF'
# The first launch stops pulsing its main thread after 4 s, as a hang.
hang_after_s=4
hang_launches=1
# Every later launch shuts down cleanly after 8 s.
run_s=8
EOF
LOG=$APP/logs/korvel.log
INI=$APP/korvel/korvel.ini

winebed_start

# Prints the complete lines that the log has gained since the last call. A step that is still
# waiting for its outcome ("Trying to start...wait 4 sec...") shows once its line is complete.
shown=0
show_new_lines() {
    [ -f "$LOG" ] || return 0
    local total
    total=$(wc -l <"$LOG")
    if [ "$total" -gt "$shown" ]; then
        sed -n "$((shown + 1)),${total}p" "$LOG" | tr -d '\r' | sed 's/^/  korvel.log | /'
        shown=$total
    fi
}

# Shows the log until the condition holds; gives up at the deadline (seconds since start).
deadline=$((SECONDS + 60))
follow_log_until() {
    until "$@"; do
        show_new_lines
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "demo: gave up after 60 s; the log so far is in $LOG" >&2
            exit 1
        fi
        sleep 0.2
    done
    show_new_lines
}
log_has() { [ -f "$LOG" ] && grep -q "$1" "$LOG"; }
korvel_ended() { ! kill -0 "$KORVEL_PID" 2>/dev/null; }

echo "demo: starting korvel in $APP/korvel"
"$WINE64" "$APP/korvel/korvel.exe" </dev/null >/dev/null 2>&1 &
KORVEL_PID=$!
follow_log_until log_has "Korvel started."

echo "demo: starting Tamrix.exe (the sample application); it will hang after 4 s"
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 &
follow_log_until log_has "Main thread not responding."
echo "demo: korvel saw the hang; the relaunched instance will shut down cleanly after 8 s"
follow_log_until korvel_ended
status=0
wait "$KORVEL_PID" || status=$?

# The story korvel's log has to tell, in this order.
expected=(
    "Korvel started."
    "Process detected."
    "Main thread not responding."
    "Trying to kill...success"
    "Trying to start...wait 4 sec...success"
    "Shutdown detected."
    "Korvel shut down."
)
# The first expected line that does not follow its predecessors; empty when the story is complete.
missing=$(tr -d '\r' <"$LOG" | cut -d' ' -f3- |
    awk -v want="$(printf '%s\n' "${expected[@]}")" '
        BEGIN { n = split(want, lines, "\n"); i = 1 }
        i <= n && $0 == lines[i] { i++ }
        END { if (i <= n) print lines[i] }')
echo
if [ "$status" -ne 0 ]; then
    echo "demo: FAILED: korvel ended with exit code $status"
elif [ -n "$missing" ]; then
    echo "demo: FAILED: the log lacks \"$missing\" at its place"
    status=1
else
    echo "demo: OK: korvel killed the hung instance, relaunched it, and ended after its clean shutdown"
fi
echo "demo: log: $LOG   INI: $INI"
exit "$status"
