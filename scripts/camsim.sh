# shellcheck shell=bash
# Sourced by the scripts that need the camera simulator (scripts/demo, the
# end-to-end smoke run): starts it in the background with its output in a log
# file, returns once it says where it listens, and reads its own state
# resource with curl.
# usage: start_camsim CAMSIM LOG [camsim options...]
#   sets camsim_pid and camsim_port; on failure says why on standard error
#   (with what the simulator printed) and returns 1.
start_camsim() {
    local exe="$1" log="$2" i
    shift 2
    "$exe" "$@" >"$log" 2>"$log.err" &
    camsim_pid=$!
    camsim_port=""
    for ((i = 0; i < 300; i++)); do # 15 s in steps of 50 ms
        camsim_port="$(sed -n 's/^camsim listening on .* port \([0-9]*\)$/\1/p' "$log")"
        [ -n "$camsim_port" ] && return 0
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
