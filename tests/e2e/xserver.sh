# shellcheck shell=bash
# Sourced by the end-to-end scripts: starts a virtual X server on a free
# display of its own and returns only once that server answers a client.
# Xvfb names its display as soon as it has claimed the number, which on a
# loaded machine can be well before a client can connect to it.
# usage: start_xvfb WIDTHxHEIGHT WORKDIR
#   sets xvfb_pid (for the caller's clean-up) and exports DISPLAY; on failure
#   says why on standard error and returns 1.
start_xvfb() {
    local screen="$1" work="$2" tries=300 # 15 s in steps of 50 ms
    Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp \
        3>"$work/xvfb.display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    local i
    for ((i = 0; i < tries; i++)); do
        # Only a whole line is a whole display number.
        [ "$(wc -l <"$work/xvfb.display")" -ge 1 ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ "$(wc -l <"$work/xvfb.display")" -lt 1 ]; then
        echo "start_xvfb: Xvfb named no display: $(tail -n 5 "$work/xvfb.log")" >&2
        return 1
    fi
    DISPLAY=":$(head -n 1 "$work/xvfb.display")"
    export DISPLAY
    for ((i = 0; i < tries; i++)); do
        xdpyinfo >/dev/null 2>&1 && return 0
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "start_xvfb: the X server on $DISPLAY does not answer: $(tail -n 5 "$work/xvfb.log")" >&2
    return 1
}
