#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, in a prefix of its own: install, korvel from
# there through a hang restart, upgrade, refused downgrade, uninstall; then what Wine's installer
# does not act on, from the tables. On the host; arguments: the build folder, the project version,
# the package command (KORVEL_MSI_COMMAND).
set -euo pipefail
BUILD=$1 VERSION=$2
shift 2
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
WINE64=$ROOT/tools/wine
DIR=$BUILD/Testing/MsiInstall
rm -rf "$DIR" && mkdir -p "$DIR"
# The newer package ships other bytes (tarrow's), so that the upgrade is seen to replace korvel.exe.
package() { "${@:4}" -DKORVEL_EXE="$BUILD/bin/$2" -DVERSION="$3" -DOUTPUT="$DIR/$1.msi" \
    -P "$ROOT/cmake/Msi.cmake" >/dev/null; }
package v1 korvel.exe "$VERSION" "$@"
package v2 tarrow.exe "${VERSION%.*}.$((${VERSION##*.} + 1))" "$@"
package v0 korvel.exe 0.0.1 "$@"

EXE='C:\Tamrix Łukasz Жанна\korvel\korvel.exe'
APP="$WINEPREFIX/drive_c/Tamrix Łukasz Жанна"
INI=$APP/korvel/korvel.ini
windows() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { # action, package, properties...
    "$WINE64" msiexec "$1" "$(windows "$DIR/$2.msi")" /qn /l*v "$(windows "$DIR/$2-${1#/}.log")" \
        "${@:3}" </dev/null >/dev/null 2>&1
}
# Leftovers of an interrupted run; its processes end with the prefix's server.
finish() {
    msiexec /x v2 || msiexec /x v1 || true
    rm -rf "$APP"
}
finish
trap finish EXIT
fail() { printf 'FAILED: %b\n' "$*" >&2 && exit 1; }
# grep reads to the end: under pipefail, a grep -q that stops early fails the writer with SIGPIPE.
ini_has() { tr -d '\r' <"$INI" | grep -x "$1" >/dev/null; }
# The values korvel's package writes, as reg export has them (UTF-16; REG_EXPAND_SZ as the hex of
# UTF-16 text), one per line.
registry() {
    local key
    for key in 'SYSTEM\CurrentControlSet\Services\EventLog\Application\korvel' \
        'Software\Microsoft\Windows\CurrentVersion\Run' 'Software\korvel'; do
        "$WINE64" reg export "HKLM\\$key" "$(windows "$DIR/reg")" /y >/dev/null 2>&1 &&
            iconv -f UTF-16LE -t UTF-8 "$DIR/reg" | tr -d '\r' |
            sed -e ':a' -e '/\\$/N; s/\\\n *//; ta'
    done | grep -E '^"(EventMessageFile|korvel|TamrixDir)"=' || true
}

# ---- a silent install with two properties ----
msiexec /i v1 TAMRIXDIR='C:\Tamrix Łukasz Жанна\' MAIN_TIMEOUT=3 PER_SESSION_LOG=1 ||
    fail "install: exit $?"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v1-work/korvel.exe" && [ -d "$APP/logs" ] ||
    fail "korvel.exe or logs\\ not installed"
ini_has main_timeout=3 && ini_has per_session=1 || fail "the given keys are not in korvel.ini"
# The keys not given keep the shipped values: written only when given.
ini_has hang_dump=0 && ini_has call_stream_timeout=60 || fail "a key not given was written"
hex=$(printf '%s\0' "$EXE" | iconv -t UTF-16LE | od -An -vtx1 | tr -d ' \n' | sed 's/../&,/g')
expected=$(printf '"EventMessageFile"=hex(2):%s\n"korvel"="\\"%s\\""\n"TamrixDir"="%s"' "${hex%,}" \
    "${EXE//\\/\\\\}" 'C:\\Tamrix Łukasz Жанна\\')
[ "$(registry)" = "$expected" ] || fail "registry:\n$(registry)\nexpected\n$expected"

# ---- korvel.exe from there, as the logon start starts it, through one hang restart ----
cp "$BUILD/bin/TamrixDouble.exe" "$APP/Tamrix.exe"
printf 'launch.1.main_stop_ms=1000\nlaunch.2.shutdown_ms=1500\n' >"$APP/Tamrix.script"
"$WINE64" "$EXE" </dev/null >/dev/null 2>&1 &
KORVEL_PID=$!
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 &
# korvel ends by itself (auto_exit) once the relaunched double has shut down.
for _ in $(seq 600); do kill -0 "$KORVEL_PID" 2>/dev/null && sleep 0.1; done
wait "$KORVEL_PID" || fail "korvel: exit $?"
# The session's own log, named after the user (Wine's is the Unix user).
logs=("$APP"/logs/korvel*.log)
[[ ${#logs[@]} -eq 1 && ${logs[0]} =~ /korvel-$(id -un)-[0-9]+\.log$ ]] || fail "logs: ${logs[*]}"
grep -q 'Trying to start\.\.\.wait [0-9]* sec\.\.\.success' "${logs[0]}" || fail "no restart logged"

# ---- an upgrade keeps the user's korvel.ini and changes only the key given ----
sed -i 's/^call_stream_timeout=60/call_stream_timeout=77/' "$INI"
msiexec /i v2 HANG_DUMP=1 || fail "upgrade: exit $?"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v2-work/korvel.exe" || fail "korvel.exe not replaced"
ini_has call_stream_timeout=77 && ini_has main_timeout=3 && ini_has hang_dump=1 ||
    fail "upgrade: korvel.ini is $(cat "$INI")"

# ---- an older package is refused and changes nothing ----
status=0 && msiexec /i v0 || status=$?
# 1603, as Wine passes an exit code on to the host: modulo 256.
[ "$status" -eq $((1603 % 256)) ] || fail "downgrade: exit $status"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v2-work/korvel.exe" || fail "the downgrade changed korvel.exe"

# ---- the uninstall leaves korvel's data, nothing else ----
msiexec /x v2 || fail "uninstall: exit $?"
[ ! -e "$APP/korvel/korvel.exe" ] && [ -z "$(registry)" ] || fail "left: korvel.exe or $(registry)"
ini_has call_stream_timeout=77 && ini_has hang_dump=1 && [ -f "${logs[0]}" ] ||
    fail "korvel.ini or the log removed"

# ---- from the tables: the downgrade's message (Wine's msiexec logs none), who may write what ----
msiinfo export "$DIR/v0.msi" LaunchCondition | grep 'A newer version of korvel' >/dev/null ||
    fail "downgrade: no message"
expected=$(printf '%s\t%s\t%s\t%s\t\n' \
    Lock.KORVELDIR KORVELDIR CreateFolder \
    'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)' \
    Lock.LOGSDIR LOGSDIR CreateFolder \
    'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200af;;;BU)(A;OICIIO;0x1301bf;;;BU)' \
    Lock.korvel.ini korvel.ini File 'D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFW;;;BU)')
actual=$(msiinfo export "$DIR/v1.msi" MsiLockPermissionsEx | tr -d '\r' | sed 1,3d | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "permissions:\n$actual"
# Permanent (16), which Wine's installer needs not: korvel.ini (never put over, 128), each entry.
msiinfo export "$DIR/v1.msi" Component | tr -d '\r' | awk -F'\t' '
    $1 == "KorvelIni" { ini = $4 == 400 }
    $1 ~ /^Ini\./ { n++; if ($4 != 272 || "Ini." $5 != $1) bad = 1 }
    END { exit !(ini && n >= 9 && !bad) }' || fail "component attributes"
