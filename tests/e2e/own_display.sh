#!/usr/bin/env bash
# Runs a command on a virtual X screen of its own (1920x1080), so that windows
# of tests running beside it can neither cover what it captures nor take its
# keyboard focus.
# usage: own_display.sh COMMAND [ARGS...]
set -euo pipefail
work="$(mktemp -d)"
cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
[ -s "$work/display" ] || { echo "own_display.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
"$@"
