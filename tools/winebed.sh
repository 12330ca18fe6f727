# Sourced by the test and demo scripts: a private Wine prefix under the build folder with a
# persistent wineserver, and a private Xvfb display. winebed_stop stops exactly what it started.
# Needs BUILD_DIR.

# Every Windows process of the bed starts through tools/wine, so that none fails at random.
WINE64="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine"
WINESERVER=/usr/lib/wine/wineserver

export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No crash dialog (a failing test must fail, not hang); no Mono or Gecko installers. A native
# dbghelp.dll or uxtheme.dll found by the search comes before Wine's builtin one, as on Windows,
# which has no builtins: so a copy that a test plants beside a program is loaded wherever Windows
# would load it.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d;dbghelp,uxtheme=n,b"
# Wine maps Windows file names to Unix names through the Unix locale: under plain C a name outside
# ASCII does not survive the trip ("Łukasz" comes back as another name, or none). C.UTF-8 keeps
# every name and still gives Wine's ANSI code page 1252, as on a Western Windows.
export LC_ALL=C.UTF-8

XVFB_PID=""
WINEBED_EXTRA_PREFIXES=()

# winebed_start [prefix ...] brings up the display and WINEPREFIX, and each further prefix named:
# named kernel objects are global within one prefix only, so tests that use the product's fixed
# names can run side by side when each group has a prefix of its own.
winebed_start() {
    local n
    for n in $(seq 90 190); do
        [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            [ -e "/tmp/.X11-unix/X${n}" ] && break
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        if [ -e "/tmp/.X11-unix/X${n}" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$n"
            break
        fi
        XVFB_PID=""
    done
    [ -n "$XVFB_PID" ] || { echo "could not start Xvfb" >&2; return 1; }

    local prefix
    for prefix in "$WINEPREFIX" "$@"; do
        winebed_prefix_start "$prefix"
    done
}

# A prefix of its own, created when new, with a persistent wineserver.
winebed_prefix_start() {
    local prefix=$1
    if [ ! -f "$prefix/system.reg" ]; then
        echo "Creating the Wine prefix $prefix"
        mkdir -p "$prefix"
        WINEPREFIX=$prefix "$WINE64" wineboot -i >/dev/null 2>&1 || true
        # Without a window manager Wine keeps a dismissed box's program alive 2 s longer.
        WINEPREFIX=$prefix "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
            >/dev/null 2>&1
        # Let the short-lived server write the registry out and end before the persistent one.
        WINEPREFIX=$prefix "$WINESERVER" -w || true
    fi
    WINEPREFIX=$prefix "$WINESERVER" -p
    [ "$prefix" = "$WINEPREFIX" ] || WINEBED_EXTRA_PREFIXES+=("$prefix")
    # Start Wine's own services now, with their output away from ours: a service started by the
    # first test would inherit ctest's pipe and keep ctest waiting for it to close.
    WINEPREFIX=$prefix "$WINE64" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    # The desktop, held for the whole run (tests/support/programs/DesktopKeeper.cpp), where the
    # build has the keeper.
    local keeper="$BUILD_DIR/bin/DesktopKeeper.exe"
    if [ -f "$keeper" ]; then
        WINEPREFIX=$prefix "$WINE64" "$keeper" </dev/null >/dev/null 2>&1 &
    fi
}

winebed_stop() {
    "$WINESERVER" -k 2>/dev/null || true
    local prefix
    for prefix in "${WINEBED_EXTRA_PREFIXES[@]}"; do
        WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
    done
    WINEBED_EXTRA_PREFIXES=()
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    fi
}
