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
. "$(dirname "$0")/xserver.sh"
start_xvfb 1920x1080 "$work" || exit 1
"$@"
