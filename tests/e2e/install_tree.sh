#!/usr/bin/env bash
# cmake --install of the build tree into a prefix that is then moved
# elsewhere: the moved tree holds what an installation must (tree_checks.sh),
# and its executable, run where it lies against its own camsim, passes the
# smoke run, with the video over RTSP through a camnetsdk.ini beside the SDK.
# usage: install_tree.sh CMAKE BUILD_DIR LIBDIR CHINESE_UI CLOSEWINDOW ARTIFACT_DIR
set -euo pipefail
cmake="$1"; build="$2"; libdir="$3"; chinese="$4"; closer="$5"; artifacts="$6"
here="$(cd "$(dirname "$0")" && pwd)"
unset LD_LIBRARY_PATH

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
    { cat "$work/install.log" >&2; echo "FAIL: cmake --install failed" >&2; exit 1; }
mkdir "$work/elsewhere"
mv "$work/prefix" "$work/elsewhere/moved"
root="$work/elsewhere/moved"
echo "installed, then moved to $root"

. "$here/tree_checks.sh"
check_tree "$root" "$libdir" "$chinese" || exit 1
echo "the moved tree finds its SDK, and its desktop entry, metadata and icons pass"

smoke_tree "$root" "$chinese" "$closer" "$artifacts" --rtsp
