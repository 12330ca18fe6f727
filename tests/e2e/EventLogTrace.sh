#!/usr/bin/env bash
# korvel's events as Wine's ReportEventW traces them (type, category, id, then the string), while
# the real korvel.exe asks a Tamrix double whose call stream hung to close, and that one closes
# with its shutdown signal. On the host, in the Wine bed that tools/test.sh exports. Argument: the
# build folder.
set -euo pipefail
BIN=$1/bin
WINE64="$(dirname "$0")/../../tools/wine"
DIR=$(mktemp -d /tmp/korvel-eventlog.XXXXXX)
APP=$DIR/app
mkdir -p "$APP/logs" "$APP/korvel"
cp "$BIN/korvel.exe" "$APP/korvel/korvel.exe"
cp "$BIN/TamrixDouble.exe" "$APP/Tamrix.exe"
printf '%s\r\n' '[Options]' call_stream_timeout=1 startup_timeout=5 '[Recovery]' close_timeout=5 \
    '[Log]' event_log=1 >"$APP/korvel/korvel.ini"
# The relaunched double shuts down, so that korvel ends (auto_exit); no double outlives 30 s.
printf '%s\n' lifetime_ms=30000 window=1 launch.1.call_stop_ms=1500 \
    launch.2.shutdown_ms=3000 >"$APP/Tamrix.script"
KORVEL_PID="" TAMRIX_PID=""
finish() {
    for pid in $KORVEL_PID $TAMRIX_PID; do kill -KILL "$pid" && wait "$pid"; done 2>/dev/null
    rm -rf "$DIR"
}
trap finish EXIT
WINEDEBUG=fixme+advapi,warn+eventlog,err+eventlog,trace+eventlog \
    "$WINE64" "$APP/korvel/korvel.exe" </dev/null >/dev/null 2>"$DIR/stderr" & KORVEL_PID=$!
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 & TAMRIX_PID=$!
for _ in $(seq 200); do kill -0 "$KORVEL_PID" 2>/dev/null && sleep 0.3; done
LOG=$(tr -d '\r' <"$APP/logs/korvel.log" | cut -c21-)
# "type id" (hex, as Wine prints them: 0x65 is 101) from each call, its string from the next line.
EVENTS=$(sed -nE 's/.*:advapi:ReportEventW \([^,]*,0x0*([0-9]+),0x0000,0x0*([0-9a-f]+),.*/\1 \2/p;
                  s/.*:eventlog:ReportEventW L"(.*)"$/\1/p' "$DIR/stderr" | paste -d' ' - -)
EXPECTED_EVENTS="4 1 Korvel started.
2 65 Call stream thread not responding.
4 c8 Trying to start...wait 4 sec...success
4 2 Korvel shut down."
# Also what korvel.exe makes of the closed double's shutdown signal: no end of Tamrix, whose
# successor starts (without a kill) and later shuts down.
[ "$EVENTS" = "$EXPECTED_EVENTS" ] && grep -qxF 'Trying to close...success' <<<"$LOG" ||
    { printf 'FAILED\n--- log\n%s\n--- events\n%s\n' "$LOG" "$EVENTS" >&2 && exit 1; }
