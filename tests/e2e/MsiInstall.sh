#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, in a prefix of its own (tests/CMakeLists.txt):
# a silent install into a folder named outside the code page, korvel.exe from there through one
# hang restart, an upgrade, a refused downgrade and the uninstall; then the permissions, which Wine
# does not apply, from the package's own table. On the host. Arguments: the build folder, the
# project version, and the package command of CMakeLists.txt (KORVEL_MSI_COMMAND).
set -euo pipefail
BUILD=$1 VERSION=$2
shift 2
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
WINE64=$ROOT/tools/wine
DIR=$BUILD/Testing/MsiInstall
rm -rf "$DIR" && mkdir -p "$DIR"
IFS=. read -r major minor patch <<<"$VERSION"
NEWER=$major.$minor.$((patch + 1))
# The package of a version with the executable given; a newer one ships other bytes (tarrow's), so
# that the test sees korvel.exe replaced.
package() { "$@" -P "$ROOT/cmake/Msi.cmake" >/dev/null; }
package "$@" -DKORVEL_EXE="$BUILD/bin/korvel.exe" -DVERSION="$VERSION" -DOUTPUT="$DIR/v1.msi"
package "$@" -DKORVEL_EXE="$BUILD/bin/tarrow.exe" -DVERSION="$NEWER" -DOUTPUT="$DIR/v2.msi"
package "$@" -DKORVEL_EXE="$BUILD/bin/korvel.exe" -DVERSION=0.0.1 -DOUTPUT="$DIR/v0.msi"

WIN_APP='C:\Tamrix Łukasz Жанна\'
APP="$WINEPREFIX/drive_c/Tamrix Łukasz Жанна"
INI=$APP/korvel/korvel.ini
KORVEL_PID=""
finish() {
    set +e
    [ -z "$KORVEL_PID" ] || kill -KILL "$KORVEL_PID" 2>/dev/null
    for pid in /proc/[0-9]*; do
        grep -qF "$APP/Tamrix.exe" "$pid/maps" 2>/dev/null && kill -KILL "${pid#/proc/}"
    done
    for v in v2 v1; do "$WINE64" msiexec /x "$(windows "$DIR/$v.msi")" /qn >/dev/null 2>&1; done
    rm -rf "$APP"
}
trap finish EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
windows() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { # action, package, properties...
    "$WINE64" msiexec "$1" "$(windows "$DIR/$2.msi")" /qn /l*v "$(windows "$DIR/$2-${1#/}.log")" \
        "${@:3}" </dev/null >/dev/null 2>&1
}
# grep reads to the end: under pipefail, a grep -q that stops early fails the writer with SIGPIPE.
ini_has() { tr -d '\r' <"$INI" | grep -x "$1" >/dev/null; }
# A registry value's data as text: reg export writes UTF-16, and REG_EXPAND_SZ as hex(2) bytes.
reg_value() { # key, name
    rm -f "$DIR/reg.txt"
    "$WINE64" reg export "$1" "$(windows "$DIR/reg.txt")" /y >/dev/null 2>&1 || return 1
    iconv -f UTF-16LE -t UTF-8 "$DIR/reg.txt" | tr -d '\r' | sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
        sed -n "s/^\"$2\"=//p" | sed -e 's/^hex(2)://' -e 's/^"\(.*\)"$/\1/' | {
        read -r data
        if [[ $data =~ ^[0-9a-f,]+$ ]]; then
            echo "$data" | tr -d ',' | xxd -r -p | iconv -f UTF-16LE -t UTF-8 | tr -d '\0'
        else
            printf '%s' "${data//\\\\/\\}" | sed 's/\\"/"/g'
        fi
    }
}
EXE='C:\Tamrix Łukasz Жанна\korvel\korvel.exe'
EVENT_SOURCE='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\korvel'
RUN='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

# Leftovers of an interrupted run.
finish
trap finish EXIT

# ---- a silent install with two properties ----
msiexec /i v1 TAMRIXDIR="$WIN_APP" MAIN_TIMEOUT=3 PER_SESSION_LOG=1 || fail "install: exit $?"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v1-work/korvel.exe" || fail "korvel.exe not installed"
[ -d "$APP/logs" ] || fail "no logs folder"
ini_has main_timeout=3 && ini_has per_session=1 || fail "the given keys are not in korvel.ini"
# A key not given keeps the shipped value: written only when given.
ini_has hang_dump=0 && ini_has call_stream_timeout=60 || fail "a key not given was written"
[ "$(reg_value "$EVENT_SOURCE" EventMessageFile)" = "$EXE" ] || fail "event source: $(cat "$DIR/reg.txt")"
grep -q 'hex(2)' <(iconv -f UTF-16LE -t UTF-8 "$DIR/reg.txt") || fail "event source not REG_EXPAND_SZ"
[ "$(reg_value "$RUN" korvel)" = "\"$EXE\"" ] || fail "logon start: $(reg_value "$RUN" korvel)"

# ---- korvel.exe from there, started as the logon start starts it, through one hang restart ----
cp "$BUILD/bin/TamrixDouble.exe" "$APP/Tamrix.exe"
printf 'launch.1.main_stop_ms=1000\nlaunch.2.shutdown_ms=1500\n' >"$APP/Tamrix.script"
"$WINE64" "$EXE" </dev/null >/dev/null 2>&1 &
KORVEL_PID=$!
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 &
# korvel ends by itself (auto_exit) once the relaunched double has shut down.
for _ in $(seq 600); do kill -0 "$KORVEL_PID" 2>/dev/null || break; sleep 0.1; done
wait "$KORVEL_PID" || fail "korvel: exit $?"
KORVEL_PID=""
# The session's own log, named after the user (Wine's is the Unix user).
logs=("$APP"/logs/korvel*.log)
[[ ${#logs[@]} -eq 1 && ${logs[0]} =~ /korvel-$(id -un)-[0-9]+\.log$ ]] ||
    fail "logs: ${logs[*]}"
grep -q 'Trying to start\.\.\.wait [0-9]* sec\.\.\.success' "${logs[0]}" ||
    fail "no restart in the log: $(cat "${logs[0]}")"

# ---- an upgrade keeps the user's korvel.ini and changes only the key given ----
sed -i 's/^call_stream_timeout=60/call_stream_timeout=77/' "$INI"
msiexec /i v2 HANG_DUMP=1 || fail "upgrade: exit $?"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v2-work/korvel.exe" || fail "korvel.exe not replaced"
ini_has call_stream_timeout=77 && ini_has main_timeout=3 && ini_has hang_dump=1 ||
    fail "upgrade: korvel.ini is $(cat "$INI")"

# ---- an older package is refused, with its message, and changes nothing ----
status=0
msiexec /i v0 || status=$?
# 1603, as Wine passes an exit code on to the host: modulo 256.
[ "$status" -eq $((1603 % 256)) ] || fail "downgrade: exit $status"
# Wine's msiexec logs no launch condition's text: the message from the table.
msiinfo export "$DIR/v0.msi" LaunchCondition | grep 'A newer version of korvel is already installed' >/dev/null ||
    fail "downgrade: no message"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v2-work/korvel.exe" || fail "the downgrade changed korvel.exe"

# ---- the uninstall leaves korvel's data, nothing else ----
msiexec /x v2 || fail "uninstall: exit $?"
[ ! -e "$APP/korvel/korvel.exe" ] || fail "korvel.exe left"
for key in "$EVENT_SOURCE" 'HKLM\Software\korvel'; do
    ! "$WINE64" reg query "$key" >/dev/null 2>&1 || fail "$key left"
done
[ -z "$(reg_value "$RUN" korvel)" ] || fail "logon start left"
# The entries that the packages wrote stay too.
ini_has call_stream_timeout=77 && ini_has hang_dump=1 && ini_has main_timeout=3 && [ -f "${logs[0]}" ] ||
    fail "korvel.ini or the log removed"

# ---- what Wine does not apply: who may write what, by well-known SID ----
expected=$(printf '%s\t%s\t%s\t%s\t\n' \
    Lock.KORVELDIR KORVELDIR CreateFolder 'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)' \
    Lock.LOGSDIR LOGSDIR CreateFolder \
    'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200af;;;BU)(A;OICIIO;0x1301bf;;;BU)' \
    Lock.korvel.ini korvel.ini File 'D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)')
actual=$(msiinfo export "$DIR/v1.msi" MsiLockPermissionsEx | tr -d '\r' | tail -n +4 | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "permissions:\n$actual"
# Permanent (16): the settings file (never put over, 128) and each entry (installed only when its
# property is given) survive upgrades and uninstalls. Wine's installer removes neither anyway.
msiinfo export "$DIR/v1.msi" Component | tr -d '\r' | awk -F'\t' '
    $1 == "KorvelIni" { ini = $4 == 400 }
    $1 ~ /^Ini\./ { n++; if ($4 != 272 || "Ini." $5 != $1) bad = 1 }
    END { exit !(ini && n >= 9 && !bad) }' || fail "component attributes"
