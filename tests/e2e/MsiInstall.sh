#!/usr/bin/env bash
# The Windows Installer package under Wine's msiexec, in a prefix of its own: values refused,
# install, korvel from there through a hang restart, repair, refused downgrade, uninstall and
# upgrade while korvel runs; then what Wine's installer does not act on, from the tables. On the
# host; arguments: the build folder, the project version, the package command (KORVEL_MSI_COMMAND).
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
TASK="$WINEPREFIX/drive_c/windows/system32/tasks/Tamrix korvel"
METRICS="$WINEPREFIX/drive_c/ProgramData/korvel metrics Łukasz"
windows() { printf 'Z:%s' "${1//\//\\}"; }
msiexec() { # action, package, properties...
    "$WINE64" msiexec "$1" "$(windows "$DIR/$2.msi")" /qn /l*v "$(windows "$DIR/$2-${1#/}.log")" \
        "${@:3}" </dev/null >/dev/null 2>&1
}
install() { msiexec /i "$1" TAMRIXDIR='C:\Tamrix Łukasz Жанна\' "${@:2}"; }
KORVEL_PID=""
# Leftovers of an interrupted run; its processes end with the prefix's server.
finish() {
    [ -z "$KORVEL_PID" ] || kill -KILL "$KORVEL_PID" 2>/dev/null || true
    msiexec /x v2 || msiexec /x v1 || true
    rm -rf "$APP" "$METRICS"
    "$WINE64" reg delete 'HKCU\Software\korvel' /f </dev/null >/dev/null 2>&1 || true
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
    done | grep -E '^"(EventMessageFile|korvel|TamrixDir|MachineWideFolder)"=' || true
}
# The task as the package registered it: Wine's Task Scheduler keeps neither its program nor its
# triggers, so the XML handed to schtasks (kept beside korvel.exe) says what Windows would run.
task_element() { iconv -f UTF-16LE -t UTF-8 "$APP/korvel/korvel-task.xml" | tr -d '\r' |
    sed -n "s|^ *<$1>\(.*\)</$1>\$|\1|p"; }
# korvel.exe of the install, as the logon task starts it; KORVEL_PID its process.
started() { cat "$APP"/logs/korvel*.log 2>/dev/null | grep -c 'Korvel started\.' || true; }
start_korvel() {
    local before
    before=$(started)
    "$WINE64" "$EXE" </dev/null >/dev/null 2>&1 &
    KORVEL_PID=$!
    for _ in $(seq 300); do [ "$(started)" -gt "$before" ] && return; sleep 0.1; done
    fail "korvel did not start"
}
# Waits for korvel to end by itself after the package acted; its log must end as a replaced
# executable ends it.
expect_korvel_gone() {
    local start=$SECONDS
    for _ in $(seq 600); do kill -0 "$KORVEL_PID" 2>/dev/null && sleep 0.1; done
    ! kill -0 "$KORVEL_PID" 2>/dev/null || fail "$1: korvel still runs a minute after the package"
    wait "$KORVEL_PID" || fail "$1: korvel exit $?"
    KORVEL_PID=""
    echo "$1: korvel ended $((SECONDS - start)) s after the package"
    [ "$(tail -n 2 "$APP"/logs/korvel*.log | cut -c21- | tr -d '\r')" = \
        "$(printf "Korvel's executable was replaced or removed.\nKorvel shut down.")" ] ||
        fail "$1: korvel's log ends\n$(tail -n 3 "$APP"/logs/korvel*.log)"
}

# The Task Scheduler, which Wine starts only when asked; a prefix just brought up may still be
# busy starting its services.
for _ in $(seq 30); do
    "$WINE64" net start schedule </dev/null >/dev/null 2>&1 && break
    "$WINE64" schtasks /query </dev/null >/dev/null 2>&1 && break
    sleep 1
done

# ---- values refused: exit 1603 (modulo 256, as Wine hands it on), and the log names the property
mkdir -p "$APP"
status=0 && install v1 || status=$?
[ "$status" -eq $((1603 % 256)) ] && grep -a 'Missing.TAMRIXDIR' "$DIR/v1-i.log" >/dev/null ||
    fail "a TAMRIXDIR without Tamrix.exe: exit $status"
cp "$BUILD/bin/TamrixDouble.exe" "$APP/Tamrix.exe"
for values in MAIN_TIMEOUT=abc STARTUP_TIMEOUT=21 LOG_MAX_SIZE_KB=63 'BUSY_TIMEOUT=5 MAIN_TIMEOUT=10'; do
    read -ra given <<<"$values"
    status=0 && install v1 "${given[@]}" || status=$?
    action=Invalid.${given[0]%%=*}
    [ ${#given[@]} -eq 1 ] || action=Invalid.BUSY_TIMEOUT.BelowMain
    [ "$status" -eq $((1603 % 256)) ] && grep -a "Action start [0-9:]*: $action\." "$DIR/v1-i.log" \
        >/dev/null || fail "$values: exit $status, no $action in the log"
done
[ ! -e "$APP/korvel" ] || fail "a refused install left korvel\\"

# ---- a silent install with properties ----
install v1 MAIN_TIMEOUT=3 PER_SESSION_LOG=1 LOG_MAX_SIZE_KB=0 \
    TEXTFILE_FOLDER='C:\ProgramData\korvel metrics Łukasz' || fail "install: exit $?"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v1-work/korvel.exe" && [ -d "$APP/logs" ] ||
    fail "korvel.exe or logs\\ not installed"
ini_has main_timeout=3 && ini_has per_session=1 && ini_has max_size_kb=0 ||
    fail "the given keys are not in korvel.ini"
# The keys not given keep the shipped values: written only when given.
ini_has hang_dump=0 && ini_has call_stream_timeout=60 || fail "a key not given was written"
[ -d "$METRICS" ] || fail "no metrics folder"
hex=$(printf '%s\0' "$EXE" | iconv -t UTF-16LE | od -An -vtx1 | tr -d ' \n' | sed 's/../&,/g')
expected=$(printf '"EventMessageFile"=hex(2):%s\n"TamrixDir"="%s"\n"MachineWideFolder"="%s"' \
    "${hex%,}" 'C:\\Tamrix Łukasz Жанна\\' 'C:\\Tamrix Łukasz Жанна\\korvel\\')
[ "$(registry | sort)" = "$(sort <<<"$expected")" ] ||
    fail "registry:\n$(registry)\nexpected\n$expected"
[ -f "$TASK" ] && [ "$(task_element Command)" = "\"$EXE\"" ] &&
    [ "$(task_element WorkingDirectory)" = 'C:\Tamrix Łukasz Жанна\korvel' ] &&
    [ "$(task_element Interval | sort -u)" = PT5M ] &&
    iconv -f UTF-16LE -t UTF-8 "$APP/korvel/korvel-task.xml" | grep '<RegistrationTrigger>' >/dev/null ||
    fail "the logon task is not registered for $EXE"

# ---- korvel.exe from there, as the logon task starts it, through one hang restart ----
printf 'launch.1.main_stop_ms=1000\nlaunch.2.shutdown_ms=1500\n' >"$APP/Tamrix.script"
cp "$INI" "$DIR/korvel.ini.installed"
start_korvel
"$WINE64" "$APP/Tamrix.exe" </dev/null >/dev/null 2>&1 &
# korvel ends by itself (auto_exit) once the relaunched double has shut down.
for _ in $(seq 600); do kill -0 "$KORVEL_PID" 2>/dev/null && sleep 0.1; done
! kill -0 "$KORVEL_PID" 2>/dev/null || fail "korvel did not end after the restarted double"
wait "$KORVEL_PID" || fail "korvel: exit $?"
KORVEL_PID=""
# The session's own log, named after the user (Wine's is the Unix user).
logs=("$APP"/logs/korvel*.log)
[[ ${#logs[@]} -eq 1 && ${logs[0]} =~ /korvel-$(id -un)-[0-9]+\.log$ ]] || fail "logs: ${logs[*]}"
grep -q 'Trying to start\.\.\.wait [0-9]* sec\.\.\.success' "${logs[0]}" || fail "no restart logged"
# The administrators' policy stays as installed; what the restart learnt is the user's own.
cmp -s "$INI" "$DIR/korvel.ini.installed" || fail "korvel changed korvel.ini:\n$(cat "$INI")"
learnt=$("$WINE64" reg query 'HKCU\Software\korvel' /v startup_timeout </dev/null 2>/dev/null |
    tr -d '\r' | awk '$1 == "startup_timeout" { print $3 }')
[ -n "$learnt" ] || fail "the learnt start-up timeout is not in HKCU\\Software\\korvel"

# ---- a repair changes no value in korvel.ini (Wine's msiexec /f takes no package; this is /fa) --
cp "$INI" "$DIR/ini-before"
msiexec /i v1 REINSTALL=ALL REINSTALLMODE=amus || fail "repair: exit $?"
cmp -s "$INI" "$DIR/ini-before" || fail "the repair changed korvel.ini:\n$(diff "$DIR/ini-before" "$INI")"

# ---- an older package is refused and changes nothing ----
status=0 && msiexec /i v0 || status=$?
[ "$status" -eq $((1603 % 256)) ] || fail "downgrade: exit $status"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v1-work/korvel.exe" || fail "the downgrade changed korvel.exe"

# ---- the uninstall while korvel runs: korvel ends, and leaves korvel's data, nothing else ----
sed -i 's/^call_stream_timeout=60/call_stream_timeout=77/' "$INI"
start_korvel
msiexec /x v1 || fail "uninstall: exit $?"
expect_korvel_gone uninstall
[ ! -e "$APP/korvel/korvel.exe" ] && [ -z "$(registry)" ] && [ ! -e "$TASK" ] ||
    fail "left: korvel.exe, the task or $(registry)"
ini_has call_stream_timeout=77 && ini_has main_timeout=3 && [ -f "${logs[0]}" ] ||
    fail "korvel.ini or the log removed"
[ -d "$METRICS" ] || fail "the metrics folder removed"

# ---- an upgrade while korvel runs replaces korvel.exe at once and keeps the user's korvel.ini --
install v1 || fail "install again: exit $?"
start_korvel
status=0 && msiexec /i v2 HANG_DUMP=1 || status=$?
# Not 3010 (194 to the host): nothing was left for a restart of Windows.
[ "$status" -eq 0 ] || fail "upgrade: exit $status"
cmp -s "$APP/korvel/korvel.exe" "$DIR/v2-work/korvel.exe" || fail "korvel.exe not replaced"
expect_korvel_gone upgrade
ini_has call_stream_timeout=77 && ini_has main_timeout=3 && ini_has hang_dump=1 ||
    fail "upgrade: korvel.ini is $(cat "$INI")"
[ -f "$TASK" ] || fail "no task after the upgrade"
# A korvel.exe set aside goes once no korvel runs it: at the commit, or at the next installation.
msiexec /x v2 || fail "uninstall: exit $?"
[ "$(ls "$APP/korvel")" = korvel.ini ] || fail "left beside korvel.ini: $(ls "$APP/korvel")"

# ---- from the tables: the downgrade's message (Wine's msiexec logs none), who may write what ----
msiinfo export "$DIR/v0.msi" LaunchCondition | grep 'A newer version of korvel' >/dev/null ||
    fail "downgrade: no message"
shared='D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;0x1301bf;;;CO)(A;;0x1200ab;;;BU)'
ini_sddl='D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)'
expected=$(printf '%s\t%s\t%s\t%s\t\n' \
    Lock.KORVELDIR KORVELDIR CreateFolder \
    'D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)' \
    Lock.LOGSDIR LOGSDIR CreateFolder "$shared" \
    Lock.METRICSDIR METRICSDIR CreateFolder "$shared" \
    Lock.korvel.ini korvel.ini File "$ini_sddl")
actual=$(msiinfo export "$DIR/v1.msi" MsiLockPermissionsEx | tr -d '\r' | sed 1,3d | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "permissions:\n$actual"
# The same grants for a korvel.ini kept from an older version, which the installer never replaces.
msiinfo export "$DIR/v1.msi" CustomAction | grep -F "lock \"[KORVELDIR]korvel.ini\" \"$ini_sddl\"" \
    >/dev/null || fail "no grants for a korvel.ini kept"
# Permanent (16), which Wine's installer needs not: korvel.ini (never put over, 128), each entry.
msiinfo export "$DIR/v1.msi" Component | tr -d '\r' | awk -F'\t' '
    $1 == "KorvelIni" { ini = $4 == 400 }
    $1 ~ /^Ini\./ { n++; if ($4 != 272 || "Ini." $5 != $1) bad = 1 }
    END { exit !(ini && n >= 9 && !bad) }' || fail "component attributes"
# Windows reinstalls every component at a repair, whatever its condition says now, and would write
# each entry again empty; Wine's repair above evaluates the conditions anew.
# Windows runs a deferred action when the script runs: korvel.exe set aside after
# InstallExecute had run the script so far would meet the old version's removal first.
msiinfo export "$DIR/v1.msi" InstallExecuteSequence | tr -d '\r' | awk -F'\t' '
    { at[$1] = $3; if ($1 == "WriteIniValues") ini = $2 }
    END { exit !(ini == "NOT Installed" && at["KorvelSetAside"] < at["InstallExecute"] &&
                 at["InstallExecute"] < at["RemoveExistingProducts"] &&
                 at["RemoveExistingProducts"] < at["InstallFiles"] &&
                 at["InstallFiles"] < at["KorvelAddTask"]) }' || fail "the install sequence"
# Given through UAC, each property still reaches the installation.
secure=$(msiinfo export "$DIR/v1.msi" Property | tr -d '\r' | sed -n 's/^SecureCustomProperties\t//p')
for property in TAMRIXDIR STARTUP_TIMEOUT MAIN_TIMEOUT BUSY_TIMEOUT CALL_STREAM_TIMEOUT AUTO_EXIT \
    HANG_DUMP HANG_DUMP_KEEP RESTART_ON_EXIT CLOSE_TIMEOUT LOG_MAX_SIZE_KB LOG_KEEP EVENT_LOG \
    PER_SESSION_LOG TEXTFILE_FOLDER; do
    [[ ";$secure;" == *";$property;"* ]] || fail "$property is not secure: $secure"
done
