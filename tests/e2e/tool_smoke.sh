#!/usr/bin/env bash
# The real executable with the real SDK against the camera simulator, on a
# virtual X screen of its own, driven like a user with xdotool: it opens,
# Camera > Connect through the dialog, both previews live, one shortcut
# reaches the camera, the window closes and config.ini holds the connection.
# A screenshot of the connected tool is kept in ARTIFACT_DIR.
# With --in-place the executable runs where it lies, in an installed or
# unpacked tree that is this run's own, with the config.ini beside it.
# With --rtsp the simulator streams H.264 over RTSP as well, and a device
# profile camnetsdk.ini beside the SDK the tool loads points the SDK at it.
# usage: tool_smoke.sh [--in-place] [--rtsp] EXECUTABLE CAMSIM CLOSEWINDOW ARTIFACT_DIR
set -euo pipefail
in_place=0
rtsp=0
while [ "${1:-}" = "--in-place" ] || [ "${1:-}" = "--rtsp" ]; do
    [ "$1" = "--in-place" ] && in_place=1
    [ "$1" = "--rtsp" ] && rtsp=1
    shift
done
exe="$1"; camsim="$2"; closer="$3"; artifacts="$4"
password="smoke-pass"
root="$(cd "$(dirname "$0")/../.." && pwd)"
python="${PYTHON:-python3}"

work="$(mktemp -d)"
cleanup() {
    [ -n "${tool_pid:-}" ] && kill "$tool_pid" 2>/dev/null || true
    [ -n "${camsim_pid:-}" ] && kill "$camsim_pid" 2>/dev/null || true
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    echo "--- tool output" >&2; cat "$work/tool.log" >&2 2>/dev/null || true
    echo "--- camsim output (last lines)" >&2; tail -n 20 "$work/camsim.log" >&2 2>/dev/null || true
    exit 1
}
# Polls a command for up to $1 tenths of a second.
wait_for() {
    local tenths="$1"; shift
    for _ in $(seq "$tenths"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# One value out of the simulator's state: a dotted path such as
# calibration.horShift.
state_value() {
    camsim_get /camsim/state | "$python" -c '
import json, sys
v = json.load(sys.stdin)
for k in sys.argv[1].split("."):
    v = v.get(k, 0) if isinstance(v, dict) else 0
print(int(v))' "$1"
}

# Otherwise a copy in a folder of its own, with the SDK it finds beside
# itself, so that the config.ini it reads and writes is this run's.
if [ "$in_place" -eq 1 ]; then
    tool="$exe"
else
    cp "$exe" "$work/"
    cp "$(dirname "$exe")"/libcamnetsdk.so* "$work/"
    tool="$work/$(basename "$exe")"
fi
config="$(dirname "$tool")/config.ini"

. "$(dirname "$0")/xserver.sh"
start_xvfb 1920x1080 "$work" || fail "no X server to run the tool on"
unset QT_QPA_PLATFORM

. "$root/scripts/camsim.sh"
rtsp_options=()
[ "$rtsp" -eq 1 ] && rtsp_options=(--rtsp-port 0 --rtsp-codec h264)
start_camsim "$camsim" "$work/camsim.log" --port 0 --user admin --password "$password" \
    --fps 10 --state "$work/camsim.json" "${rtsp_options[@]}" || fail "camsim did not start"
port="$camsim_port"
unset CAMNETSDK_PROFILE
if [ "$rtsp" -eq 1 ]; then
    sdk="$(ldd "$tool" | awk '$1 == "libcamnetsdk.so" {print $3}')"
    [ -n "$sdk" ] || fail "the tool finds no libcamnetsdk.so"
    profile="$(dirname "$(realpath "$sdk")")/camnetsdk.ini"
    printf '[General]\nstreamUrl=rtsp://{host}:%s/channels/{channel}\n' "$camsim_rtsp_port" \
        >"$profile"
    echo "device profile $profile: RTSP on port $camsim_rtsp_port"
fi

# The dialog offers what the file holds: the simulator on loopback.
printf '[General]\nIP=127.0.0.1\nPORT=%s\nUSERNAME=admin\nPASSWD=%s\nCHANNEL=5\nPIXEL=3\n' \
    "$port" "$password" >"$config"
chmod 600 "$config"

"$tool" >"$work/tool.log" 2>&1 &
tool_pid=$!
# The top-level window of that exact title (xdotool's search ignores case),
# and whether it is on the screen (Qt creates some windows before showing them).
find_window() { xwininfo -name "$1" 2>/dev/null | awk '/Window id:/ {print $4}'; }
window_shown() {
    local id
    id="$(find_window "$1")"
    [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"
}
# Gives a window the keyboard and waits until the server says it has it.
focus_on() {
    for _ in $(seq 50); do
        xdotool windowfocus "$1" 2>/dev/null || true
        sleep 0.1
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$(($1))" ] && return 0
    done
    return 1
}
visible_windows() { xdotool search --onlyvisible --class overlaytuner 2>/dev/null | wc -l; }
wait_for 150 window_shown OverlayTuner || fail "the main window did not open"
wid="$(find_window OverlayTuner)"
echo "main window $wid opened"

# Camera > Connect: a click on the menu bar's first title opens its menu,
# which takes the keyboard; Down picks its first item.
shown_before="$(visible_windows)"
xdotool mousemove --window "$wid" 25 11 click 1
menu_open() { [ "$(visible_windows)" -gt "$shown_before" ]; }
wait_for 100 menu_open || fail "the Camera menu did not open"
xdotool key Down Return
wait_for 100 window_shown CameraConnectWidget || fail "Connect opened no dialog"
dialog="$(find_window CameraConnectWidget)"
focus_on "$dialog" || fail "the dialog did not take the keyboard"
# The dialog opens with the address field focused; Tab walks to Connect.
xdotool key Tab Tab Tab Tab space
connected() { [ "$(state_value requests.calibrationGet)" -ge 1 ]; }
wait_for 100 connected || fail "the tool did not connect and load the panel"
[ "$(state_value requests.device)" -eq 1 ] || fail "expected one login"
if [ "$rtsp" -eq 1 ]; then
    [ "$(state_value requests.streams)" -eq 0 ] || fail "the SDK asked for MJPEG over HTTP"
    [ "$(state_value requests.rtspStreams)" -ge 2 ] || fail "expected both channels over RTSP"
fi
echo "connected to camsim on port $port"

# Both previews: the left half of the preview area shows the visible scene,
# the right half the thermal palette, and both move on.
shoot() {
    xwd -root -silent | xwdtopnm 2>/dev/null | pamdepth 255 >"$1"
}
geometry="$(xdotool getwindowgeometry --shell "$wid")"
eval "$geometry"
check_previews() {
    "$python" - "$1" "$2" "$X" "$Y" "$WIDTH" "$HEIGHT" <<'EOF'
import sys

def load(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    return int(fields[1]), data[pos + 1:]

first, second = sys.argv[1], sys.argv[2]
x, y, w, h = (int(v) for v in sys.argv[3:7])
width, a = load(first)
_, b = load(second)

def region(left, right):
    top, bottom = y + h * 13 // 100, y + h * 9 // 10
    for row in range(top, bottom, 2):
        for col in range(x + w * left // 100, x + w * right // 100, 2):
            i = (row * width + col) * 3
            yield a[i:i + 3], b[i:i + 3]

def stats(left, right):
    n = coloured = green = purple = changed = 0
    for p, q in region(left, right):
        n += 1
        if sum(abs(p[k] - q[k]) for k in range(3)) > 60:
            changed += 1
        r, g, bl = p
        if max(p) - min(p) < 25:
            continue
        coloured += 1
        if g > r + 20 and g > bl + 20:
            green += 1
        elif bl > g + 30 and r + 5 > g and r + g + bl < 300:
            purple += 1
    c = max(coloured, 1)
    return coloured / n, green / c, purple / c, changed / n

ok = True
for name, (left, right), want in (("channel 1", (3, 47), "visible"),
                                  ("channel 2", (53, 97), "thermal")):
    col, green, purple, changed = stats(left, right)
    print(f"{name}: coloured {col:.3f} green {green:.3f} purple {purple:.3f} changed {changed:.4f}")
    shows = col > 0.3 and (green > 0.2 and purple < 0.05 if want == "visible"
                           else purple > 0.5 and green < 0.02)
    ok = ok and shows and changed > 0.0003
sys.exit(0 if ok else 1)
EOF
}
previews_live() {
    shoot "$work/a.ppm"
    sleep 1
    shoot "$work/b.ppm"
    check_previews "$work/a.ppm" "$work/b.ppm"
}
live=0
for _ in 1 2 3 4 5 6 7 8 9 10; do
    if previews_live; then live=1; break; fi
done
mkdir -p "$artifacts"
pnmtopng "$work/b.ppm" >"$artifacts/smoke_connected.png" 2>/dev/null
echo "screenshot of the connected tool: $artifacts/smoke_connected.png"
[ "$live" -eq 1 ] || fail "the previews do not show both live channels"

# One shortcut, typed into the main window, reaches the camera.
before="$(state_value calibration.horShift)"
focus_on "$wid" || fail "the main window did not take the keyboard back"
xdotool key Right
moved() { [ "$(state_value calibration.horShift)" -eq $((before + 1)) ]; }
wait_for 50 moved || fail "Right did not step the horizontal bias on the camera"
echo "Right: horizontal bias $before -> $((before + 1))"

# A real click on "Fusion ON" (right end of the status bar) leaves the
# keyboard with the box; the next arrow key still steps the calibration.
xdotool mousemove --window "$wid" $((WIDTH - 50)) $((HEIGHT - 12)) click 1
fusion_on() { [ "$(state_value fusion)" -eq 1 ]; }
wait_for 50 fusion_on || fail "a click on Fusion ON did not switch fusion on"
before="$(state_value calibration.horShift)"
xdotool key Right
wait_for 50 moved || fail "Right after a click on Fusion ON did not step the horizontal bias"
echo "Fusion ON clicked, then Right: horizontal bias $before -> $((before + 1))"

# Closing the window ends the tool cleanly and leaves the file written.
"$closer" "$wid" || fail "could not ask the window to close"
for _ in $(seq 100); do
    kill -0 "$tool_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$tool_pid" 2>/dev/null; then fail "the tool did not exit after its window closed"; fi
set +e
wait "$tool_pid"
status=$?
set -e
tool_pid=""
[ "$status" -eq 0 ] || fail "the tool exited with $status"
for line in "IP=127.0.0.1" "PORT=$port" "USERNAME=admin" "PASSWD=$password" "CHANNEL=1" "PIXEL=0"; do
    grep -qx "$line" "$config" || fail "config.ini lacks $line: $(cat "$config")"
done
echo "closed with status 0; config.ini holds the connection"
