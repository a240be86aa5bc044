# shellcheck shell=bash
# Sourced by the scripts that need the camera simulator (scripts/demo, the
# end-to-end smoke run): starts it in the background with its output in a log
# file, returns once it says where it listens, and reads its own state
# resource with curl.
# usage: start_camsim CAMSIM LOG [camsim options...]
#   sets camsim_pid and camsim_port, and exports camsim_rtsp_port when an
#   RTSP option asked for RTSP (empty otherwise); on failure says why on
#   standard error (with what the simulator printed) and returns 1.
start_camsim() {
    local exe="$1" log="$2" i arg rtsp=""
    shift 2
    for arg in "$@"; do
        case "$arg" in --rtsp-port | --rtsp-codec) rtsp=1 ;; esac
    done
    "$exe" "$@" >"$log" 2>"$log.err" &
    camsim_pid=$!
    camsim_port=""
    export camsim_rtsp_port=""
    for ((i = 0; i < 300; i++)); do # 15 s in steps of 50 ms
        camsim_port="$(sed -n 's/^camsim listening on .* port \([0-9]*\)$/\1/p' "$log")"
        camsim_rtsp_port="$(sed -n 's/^camsim rtsp on .* port \([0-9]*\) codec .*$/\1/p' "$log")"
        [ -n "$camsim_port" ] && { [ -z "$rtsp" ] || [ -n "$camsim_rtsp_port" ]; } && return 0
        kill -0 "$camsim_pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$camsim_pid" 2>/dev/null; then
        echo "start_camsim: camsim did not say within 15 s that it listens:" >&2
    else
        echo "start_camsim: camsim ended at start:" >&2
    fi
    cat "$log" "$log.err" >&2
    return 1
}

# Stops the simulator started last, and waits for it.
stop_camsim() {
    [ -n "${camsim_pid:-}" ] || return 0
    kill -TERM "$camsim_pid" 2>/dev/null || true
    wait "$camsim_pid" 2>/dev/null || true
}

# GET of one of the simulator's own resources, such as /camsim/state.
camsim_get() {
    curl --silent --show-error --max-time 5 --noproxy '*' "http://127.0.0.1:$camsim_port$1"
}
