# shellcheck shell=bash
# Sourced by the end-to-end runs of an installed tree and of the unpacked
# archive: what such a tree must hold and do wherever it lies.
# usage: check_tree ROOT LIBDIR CHINESE_UI
#        smoke_tree ROOT CHINESE_UI CLOSEWINDOW ARTIFACT_DIR [tool_smoke.sh options]
#   LIBDIR as installed (relative to ROOT); CHINESE_UI 1 when the build puts
#   the translation beside the executable. Both say what is wrong on standard
#   error and return 1 at the first fault.
app_id=io.github.overlaytuner.OverlayTuner
tree_checks_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

tree_fault() {
    echo "FAIL: $*" >&2
    return 1
}

# The tool finds the SDK in ROOT/LIBDIR through a run path relative to
# itself, and no binary names a folder outside the tree.
check_tree_binaries() {
    local root="$1" libdir="$2" runpath want f found
    [ -x "$root/bin/overlaytuner" ] || tree_fault "no bin/overlaytuner" || return
    [ -x "$root/bin/camsim" ] || tree_fault "no bin/camsim" || return
    [ -f "$root/$libdir/libcamnetsdk.so" ] || tree_fault "no $libdir/libcamnetsdk.so" || return
    [ -f "$root/$libdir/camnetsdk.ini.example" ] ||
        tree_fault "no $libdir/camnetsdk.ini.example beside the SDK" || return
    runpath="$(readelf -d "$root/bin/overlaytuner" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')"
    want="\$ORIGIN/$(realpath --relative-to="$root/bin" "$root/$libdir")"
    [ "$runpath" = "$want" ] ||
        tree_fault "bin/overlaytuner's run path is '$runpath', not '$want'" || return
    for f in "$root/bin/overlaytuner" "$root/bin/camsim" "$root/$libdir/libcamnetsdk.so"; do
        if readelf -d "$f" | grep -E '\((RUNPATH|RPATH)\)' | grep -q '[[:space:]:[]/'; then
            tree_fault "$f has an absolute run path: $(readelf -d "$f" | grep PATH)" || return
        fi
        if ldd "$f" | grep -q 'not found'; then
            tree_fault "$f misses libraries: $(ldd "$f" | grep 'not found')" || return
        fi
    done
    found="$(ldd "$root/bin/overlaytuner" | awk '$1 == "libcamnetsdk.so" {print $3}')"
    want="$(realpath "$root/$libdir/libcamnetsdk.so")"
    if [ -z "$found" ] || [ "$(realpath "$found")" != "$want" ]; then
        tree_fault "bin/overlaytuner loads libcamnetsdk.so from '$found', not $want"
    fi
}

# The translation always ships in share/overlaytuner/; it lies beside the
# executable, which makes the tool speak Chinese, only when the build says so.
check_tree_translation() {
    local root="$1" chinese="$2"
    [ -f "$root/share/overlaytuner/overlaytuner_zh.qm" ] ||
        tree_fault "no share/overlaytuner/overlaytuner_zh.qm" || return
    if [ "$chinese" = 1 ]; then
        [ -f "$root/bin/overlaytuner_zh.qm" ] ||
            tree_fault "the Chinese build has no translation beside the executable"
    else
        [ ! -e "$root/bin/overlaytuner_zh.qm" ] ||
            tree_fault "the translation lies beside the executable of an English build"
    fi
}

# The desktop entry and the AppStream metadata pass their validators, the
# entry starts an executable of the tree by name and shows an icon that the
# tree has in every size, each drawn from the logo as scripts/make-icons
# draws it now.
check_tree_desktop() {
    local root="$1" entry metainfo exec icon size drawn
    entry="$root/share/applications/$app_id.desktop"
    metainfo="$root/share/metainfo/$app_id.metainfo.xml"
    [ -f "$entry" ] || tree_fault "no share/applications/$app_id.desktop" || return
    [ -f "$metainfo" ] || tree_fault "no share/metainfo/$app_id.metainfo.xml" || return
    desktop-file-validate "$entry" >&2 || tree_fault "desktop-file-validate rejects $entry" || return
    appstreamcli validate --no-net "$metainfo" >&2 ||
        tree_fault "appstreamcli rejects $metainfo" || return
    # The tree as a whole: the launchable names the desktop entry beside it.
    appstreamcli validate-tree --no-net "$root" >&2 ||
        tree_fault "appstreamcli rejects the tree $root" || return
    exec="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
    if [ -z "$exec" ] || [ ! -x "$root/bin/$exec" ]; then
        tree_fault "the desktop entry starts '$exec', which bin/ does not hold"
        return
    fi
    icon="$(sed -n 's/^Icon=//p' "$entry")"
    [ "$icon" = "$app_id" ] || tree_fault "the desktop entry shows icon '$icon'" || return
    drawn="$(mktemp -d)"
    "$tree_checks_dir/../../scripts/make-icons" "$drawn"
    for size in 16 32 48 64 128 256; do
        if ! cmp -s "$drawn/overlaytuner-$size.png" \
            "$root/share/icons/hicolor/${size}x$size/apps/$icon.png"; then
            rm -rf "$drawn"
            tree_fault "the ${size}x$size icon is missing or not the logo's (scripts/make-icons)"
            return
        fi
    done
    rm -rf "$drawn"
}

check_tree() {
    check_tree_binaries "$1" "$2" &&
        check_tree_translation "$1" "$3" &&
        check_tree_desktop "$1"
}

# The main window's title as the Chinese translation has it.
chinese_title() {
    "${PYTHON:-python3}" - "$tree_checks_dir/../../translations/overlaytuner_zh.ts" <<'EOF'
import sys
import xml.etree.ElementTree as ET
for context in ET.parse(sys.argv[1]).getroot().iter("context"):
    if context.findtext("name") == "OverlayTunerClass":
        for message in context.iter("message"):
            if message.findtext("source") == "OverlayTuner":
                print(message.findtext("translation"))
EOF
}

# Started from the tree with the translation beside it, the tool shows its
# main window under the Chinese title (on an X screen of its own).
check_tree_speaks_chinese() (
    root="$1"
    title="$(chinese_title)"
    [ -n "$title" ] || tree_fault "no Chinese title for the main window" || exit
    work="$(mktemp -d)"
    # shellcheck disable=SC2154 # xvfb_pid comes from start_xvfb
    trap 'kill "${tool_pid:-}" "${xvfb_pid:-}" 2>/dev/null; wait; rm -rf "$work"' EXIT
    . "$tree_checks_dir/xserver.sh"
    start_xvfb 1280x1024 "$work" || exit
    "$root/bin/overlaytuner" >"$work/tool.log" 2>&1 &
    tool_pid=$!
    shown=""
    for _ in $(seq 150); do # 15 s in steps of 100 ms
        shown="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null || true)"
        [ -n "$shown" ] && break
        kill -0 "$tool_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$shown" ] || tree_fault "no window titled $title opened: $(cat "$work/tool.log")" \
        "(X server: $(tail -n 5 "$work/xvfb.log"))"
)

# The smoke run, with the tree's executable and simulator where they lie. It
# drives the English interface by its window titles, so a Chinese tree first
# shows that it speaks Chinese and then runs without its translation.
smoke_tree() {
    local root="$1" chinese="$2" closer="$3" artifacts="$4"
    shift 4
    if [ "$chinese" = 1 ]; then
        check_tree_speaks_chinese "$root" || return
        echo "the tree's tool opens under its Chinese title"
        rm "$root/bin/overlaytuner_zh.qm"
    fi
    "$tree_checks_dir/tool_smoke.sh" --in-place "$@" "$root/bin/overlaytuner" \
        "$root/bin/camsim" "$closer" "$artifacts"
}
