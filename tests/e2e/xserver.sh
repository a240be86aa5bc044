# shellcheck shell=bash
# Sourced by the end-to-end scripts: starts a virtual X server on a display
# of its own and returns only once that server answers a client.
# The display number is drawn at random from a wide range and skipped while
# any trace of an earlier server is left on it: a server of a test that just
# ended may still answer on its number while it shuts down, and a client
# that reached it would lose its display a moment later. The server never
# resets: by default an X server starts over when its last client leaves,
# and the probe that finds it up is such a client, so the tool started right
# after it would find the display gone for the moment of the reset.
# usage: start_xvfb WIDTHxHEIGHT WORKDIR
#   sets xvfb_pid (for the caller's clean-up) and exports DISPLAY; on failure
#   says why on standard error and returns 1.
start_xvfb() {
    local screen="$1" work="$2" attempt i n
    for ((attempt = 0; attempt < 20; attempt++)); do
        n=$((100 + RANDOM % 800))
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp -noreset 2>"$work/xvfb.log" &
        xvfb_pid=$!
        for ((i = 0; i < 300; i++)); do # 15 s in steps of 50 ms
            kill -0 "$xvfb_pid" 2>/dev/null || break
            # Answered while ours still runs: the number is ours, not another's.
            if xdpyinfo -display ":$n" >/dev/null 2>&1 && kill -0 "$xvfb_pid" 2>/dev/null; then
                DISPLAY=":$n"
                export DISPLAY
                return 0
            fi
            sleep 0.05
        done
        # Another server took the number first, or ours never answered.
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    done
    echo "start_xvfb: no X server came up: $(tail -n 5 "$work/xvfb.log")" >&2
    return 1
}
