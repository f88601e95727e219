# Sourced by the Windows scripts: a Wine session for running the Windows programs from scripts and
# ctest. WINEPREFIX must be set. Every Wine process started here has its input and output on
# /dev/null: one started later by a program under test would inherit that program's output (a
# ctest pipe, a test's output file) and hold it open for as long as it lives.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

wine_session_started=0
stop_wine_session() {
    if [ "$wine_session_started" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
    wine_session_started=0
}

# Creates the prefix when it is missing, then starts the server, the prefix's services and the
# desktop, and keeps the desktop up: Wine's desktop process ends when no window is left and the
# next program that draws text would start it again, handing it its own output files.
start_wine_session() {
    # Fails when this prefix's server already runs, which is as good.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine_session_started=1
    if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
        timeout 600 wineboot --init </dev/null >/dev/null 2>&1
    else
        timeout 300 wine wineboot </dev/null >/dev/null 2>&1
    fi
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "the Wine prefix was not created" >&2; return 1; }
    # No X here: the null display driver gives GDI a screen without one.
    timeout 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    (wine notepad </dev/null >/dev/null 2>&1 &)
    # Until the desktop is up, so the first test does not start it.
    local i pid
    for i in $(seq 1 60); do
        for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
            tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
        done
        sleep 0.5
    done
    echo "the Wine desktop did not start" >&2
    return 1
}
