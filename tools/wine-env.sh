# Sourced (not run): a headless Wine for the Windows build's tests.
#   source tools/wine-env.sh BUILD_DIR
# Creates BUILD_DIR/wineprefix on first use (virtual desktop, fonts), starts Xvfb and a
# persistent wineserver inside it, and exports WINEPREFIX, DISPLAY, WINEDEBUG and
# WINEDLLOVERRIDES. wine_env_stop ends both; callers trap it on EXIT.

wine_env_build="$(cd "${1:?build folder}" && pwd)"
export WINEPREFIX="$wine_env_build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono/Gecko install prompts, and no crash dialog that would hang a test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wine_env_xvfb_pid=""

wine_env_stop() {
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "$wine_env_xvfb_pid" ]; then
        kill "$wine_env_xvfb_pid" 2>/dev/null || true
        wait "$wine_env_xvfb_pid" 2>/dev/null || true
        wine_env_xvfb_pid=""
    fi
}

wine_env_start() {
    # A wineserver left from a run without a display breaks every later GUI program.
    wineserver -k >/dev/null 2>&1 || true

    local displayFile
    displayFile="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$displayFile" >/dev/null 2>&1 &
    wine_env_xvfb_pid=$!
    local i
    for i in $(seq 100); do
        [ -s "$displayFile" ] && break
        sleep 0.1
    done
    if [ ! -s "$displayFile" ]; then
        echo "wine-env: Xvfb did not start" >&2
        rm -f "$displayFile"
        return 1
    fi
    export DISPLAY=":$(head -n1 "$displayFile")"
    rm -f "$displayFile"

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating $WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        wineserver -w
        # A virtual desktop stands in for the missing window manager: without it every
        # dialog's close waits 2 s for one.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 800x600 /f >/dev/null 2>&1
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wineserver -w
    fi

    # Started inside the Xvfb session and kept alive, so each test does not pay for a new one.
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1
}

# Maps COMn of the prefix to a path (a pseudo-terminal link) and restarts the wineserver so
# the mapping is read.
wine_env_map_port() {
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1
}
