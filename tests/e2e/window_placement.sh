#!/usr/bin/env bash
# Starts the real executable on a virtual X screen of the given size and
# checks where its window opens and how large it is.
# usage: window_placement.sh EXECUTABLE SCREEN_W SCREEN_H WANT_X WANT_Y WANT_W WANT_H
set -euo pipefail
exe="$1"; sw="$2"; sh="$3"; want="$4,$5 ${6}x$7"

work="$(mktemp -d)"
cleanup() {
    [ -n "${tool_pid:-}" ] && kill "$tool_pid" 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A copy in an empty folder, with the SDK it finds beside itself, so no
# config.ini of the build is touched.
cp "$exe" "$work/"
cp "$(dirname "$exe")"/*.so* "$work/" 2>/dev/null || true
. "$(dirname "$0")/xserver.sh"
start_xvfb "${sw}x${sh}" "$work" || exit 1
unset QT_QPA_PLATFORM

"$work/$(basename "$exe")" >"$work/tool.log" 2>&1 &
tool_pid=$!

# A sanitized build on a loaded machine takes a while to show its window.
got=""
for _ in $(seq 300); do
    if info="$(xwininfo -name OverlayTuner 2>/dev/null)"; then
        x="$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")"
        y="$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")"
        w="$(awk '/Width:/ {print $2}' <<<"$info")"
        h="$(awk '/Height:/ {print $2}' <<<"$info")"
        got="$x,$y ${w}x$h"
        [ "$got" = "$want" ] && break
    fi
    kill -0 "$tool_pid" 2>/dev/null || break
    sleep 0.1
done
echo "screen ${sw}x$sh: window at $got, expected $want"
if [ "$got" != "$want" ]; then
    echo "--- tool output" >&2
    cat "$work/tool.log" >&2
    exit 1
fi
