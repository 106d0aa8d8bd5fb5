#!/usr/bin/env bash
# Starts the agent under Wine in the checkout's private prefix, on $DISPLAY,
# or on a private Xvfb when there is no display. Ctrl-C ends it.
set -uo pipefail
win32=$(cd "${1:-build/win32}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

xvfb_pid=""
cleanup() {
    wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    n=$((90 + RANDOM % 100))
    while [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    sleep 1
    echo "No display: running on a private Xvfb ($DISPLAY); a screenshot of the tray goes to $win32/tray.png"
    rm -f "$win32/tray.png"
fi

wine_prefix_ready
# Timed from the agent's start: a new prefix alone takes longer than that.
[ -z "$xvfb_pid" ] || ( sleep 8 && import -window root "$win32/tray.png" 2>/dev/null ) &
echo "Folderlane is running in the tray. Ctrl-C ends it."
cd "$win32" && wine ./Folderlane.exe
echo "Folderlane ended with exit code $?."
