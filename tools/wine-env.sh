# Sourced (not run): a headless Wine for the Windows build's tests.
#   source tools/wine-env.sh BUILD_DIR
# Creates BUILD_DIR/wineprefix on first use (virtual desktop, fonts, COM ports), starts Xvfb
# and a persistent wineserver inside it, and exports WINEPREFIX, DISPLAY, WINEDEBUG and
# WINEDLLOVERRIDES. wine_env_stop ends both; callers trap it on EXIT.
# The prefix's COM3 and COM4 are the paths BUILD_DIR/wine-com3 and BUILD_DIR/wine-com4: a
# test makes one of them a link to its peer's pseudo-terminal before the program opens it.

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

    # The stamp is written last, so a prefix whose set-up was cut short is made again.
    if [ ! -f "$WINEPREFIX/.ostrevan-ready" ]; then
        echo "wine-env: creating $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        wineserver -w
        # A virtual desktop stands in for the missing window manager: without it every
        # dialog's close waits 2 s for one.
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 800x600 /f >/dev/null 2>&1
        # Wine's own dosdevices links can be rewritten by Wine; the registry mapping holds.
        local port
        for port in COM3 COM4; do
            wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ \
                /d "$wine_env_build/wine-${port,,}" /f >/dev/null 2>&1
        done
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wineserver -w
        touch "$WINEPREFIX/.ostrevan-ready"
    fi

    # Started inside the Xvfb session and kept alive, so each test does not pay for a new one.
    wineserver -p >/dev/null 2>&1
    wine cmd /c exit >/dev/null 2>&1
}
