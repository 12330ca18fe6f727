#!/usr/bin/env bash
# korvel's metrics file through node_exporter's textfile collector (windows_exporter's reads the
# same files) while the real korvel.exe restarts a hung Tamrix double under Wine. On the host, in
# the Wine bed that tools/test.sh exports. Arguments: the build folder and the project version.
set -euo pipefail
BIN=$1/bin
VERSION=$2
WINE64="$(dirname "$0")/../../tools/wine"
EXPORTER=$(command -v prometheus-node-exporter) ||
    { echo "no prometheus-node-exporter (tools/ensure-deps.sh installs it)" >&2 && exit 1; }

DIR=$(mktemp -d /tmp/korvel-metrics.XXXXXX)
APP=$DIR/app
METRICS=$DIR/metrics
mkdir -p "$APP/logs" "$APP/korvel" "$METRICS"
cp "$BIN/korvel.exe" "$APP/korvel/korvel.exe"
cp "$BIN/TamrixDouble.exe" "$APP/Tamrix.exe"
# Under Wine, unix path /x/y is Windows path Z:\x\y.
windows() { printf 'Z:%s' "${1//\//\\}"; }
printf '[Options]\r\nmain_timeout=1\r\n[Metrics]\r\ntextfile_folder=%s\r\n' \
    "$(windows "$METRICS")" >"$APP/korvel/korvel.ini"
# The first launch hangs; every launch signals its shutdown after 10 s, so that korvel ends
# (auto_exit) and no double outlives the test by more than that.
printf 'launch.1.main_stop_ms=1500\nshutdown_ms=10000\n' >"$APP/Tamrix.script"

EXPORTER_PID="" KORVEL_PID="" TAMRIX_PID=""
# Everything this test started, by its pid; the doubles that korvel launched (as "..\Tamrix.exe")
# by the pids of the processes that have this test's own Tamrix.exe mapped.
finish() {
    set +e
    for pid in $KORVEL_PID $TAMRIX_PID $EXPORTER_PID; do
        kill -KILL "$pid" && wait "$pid"
    done 2>/dev/null
    for pid in /proc/[0-9]*; do
        grep -qF "$APP/Tamrix.exe" "$pid/maps" 2>/dev/null && kill -KILL "${pid#/proc/}"
    done
    rm -rf "$DIR"
}
trap finish EXIT
fail() {
    printf 'FAILED: %s\n--- korvel.log\n%s\n--- scrape\n' "$*" \
        "$(tr -d '\r' <"$APP/logs/korvel.log")"
    grep -E '^(korvel|node_textfile)' <<<"$SCRAPE" || true
    exit 1
} >&2

SCRAPE=""
scrape() {
    exec 3<>"/dev/tcp/127.0.0.1/$PORT" || return 1
    printf 'GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
    SCRAPE=$(tr -d '\r' <&3)
    exec 3<&-
}
# A loopback port that nobody answers on.
PORT=$((20000 + RANDOM % 40000))
while (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; do PORT=$((PORT + 1)); done
"$EXPORTER" --web.listen-address="127.0.0.1:$PORT" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$METRICS" >"$DIR/exporter.log" 2>&1 &
EXPORTER_PID=$!
for _ in $(seq 50); do scrape 2>/dev/null && break; sleep 0.1; done
kill -0 "$EXPORTER_PID" 2>/dev/null || SCRAPE=""
[ -n "$SCRAPE" ] || fail "no node_exporter: $(cat "$DIR/exporter.log")"

"$WINE64" "$APP/korvel/korvel.exe" </dev/null >/dev/null 2>&1 & KORVEL_PID=$!
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 & TAMRIX_PID=$!

# Scrapes until each line given has shown, for up to 60 s in all.
scrape_until() {
    local deadline=$((SECONDS + 60)) line
    for line in "$@"; do
        until scrape && grep -qxF "$line" <<<"$SCRAPE"; do
            [ "$SECONDS" -lt "$deadline" ] || fail "no \"$line\" in the scrape"
            sleep 0.3
        done
    done
}

for _ in $(seq 100); do
    FILE=$(cd "$METRICS" && ls -- *.prom 2>/dev/null) && break
    sleep 0.3
done
[[ "${FILE:-}" =~ ^korvel-([0-9]+)\.prom$ ]] || fail "no korvel-<session id>.prom"
S="session=\"${BASH_REMATCH[1]}\""
scrape_until "korvel_hangs_total{$S,thread=\"main\"} 1" \
    "korvel_restarts_total{cause=\"hang\",$S} 1" \
    "korvel_tamrix_running{$S} 1" \
    "korvel_build_info{$S,version=\"$VERSION\"} 1" \
    "korvel_hangs_total{$S,thread=\"call_stream\"} 0" \
    "korvel_restarts_total{cause=\"exit\",$S} 0" \
    "korvel_startup_timeout_seconds{$S} 19" \
    "node_textfile_scrape_error 0"
# The file names its writer in a comment, which the collector takes for nothing (no scrape error
# above).
head -n 1 "$METRICS/$FILE" | grep -qE '^# korvel user S-1-[0-9-]+$' ||
    fail "no user line: $(head -n 1 "$METRICS/$FILE")"
# Unix times of the last minutes, not of some other epoch.
for name in start_time_seconds last_update_timestamp_seconds last_poll_timestamp_seconds \
    last_restart_timestamp_seconds; do
    grep "^korvel_$name{$S} " <<<"$SCRAPE" | awk -v now="$(date +%s)" \
        '{ exit !($2 > now - 300 && $2 <= now + 1) }' || fail "korvel_$name is no recent time"
done

# The launch after the restart shuts down, and korvel ends (auto_exit).
for _ in $(seq 200); do kill -0 "$KORVEL_PID" 2>/dev/null && sleep 0.3; done
! kill -0 "$KORVEL_PID" 2>/dev/null || fail "korvel did not end"
wait "$KORVEL_PID" || fail "korvel ended with $?"
KORVEL_PID=""
# Ended by itself: its file goes with it, and its series with the file.
[ -z "$(ls -A "$METRICS")" ] || fail "left in the metrics folder: $(ls -A "$METRICS")"
scrape || fail "no scrape after korvel ended"
! grep -q '^korvel_' <<<"$SCRAPE" || fail "korvel's series outlive it"
