#!/usr/bin/env bash
# Runs a command inside a private Wine environment: an Xvfb display, a Wine
# prefix of the project's own and one persistent wineserver, all torn down
# afterwards. --dpi sets the screen's DPI (96 is 100 %, 192 is 200 %).
#   usage: tools/wine-env.sh [--prefix DIR] [--dpi N] COMMAND [ARGS...]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$here/build/wine-prefix"
dpi=""
if [ "${1:-}" = "--prefix" ]; then prefix=$(realpath -m "$2"); shift 2; fi
if [ "${1:-}" = "--dpi" ]; then dpi=$2; shift 2; fi
[ $# -gt 0 ] || { echo "usage: $0 [--prefix DIR] [--dpi N] COMMAND [ARGS...]" >&2; exit 2; }

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers: the program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

xvfb_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A free display number of our own.
for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
# A 1024x768 screen at 100 %, as large again in pixels at a higher DPI: a
# real screen at 200 % has the pixels for it, and the dialogs fit on it.
screen=1024x768
[ -n "$dpi" ] && screen=$((1024 * dpi / 96))x$((768 * dpi / 96))
Xvfb "$display" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: creating the Wine prefix $WINEPREFIX" >&2
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # No window manager runs on the display: let Wine draw captions and frames.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    wineserver -w
fi
if [ -n "$dpi" ]; then
    # Read when Wine's processes start, so before the server below.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
fi
# One persistent server: each Wine process then starts in well under a second.
wineserver -p >/dev/null 2>&1 &
# Start Wine's own services now, detached from our output: they outlive the
# process that starts them and would hold a caller's pipe open.
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
"$@"
