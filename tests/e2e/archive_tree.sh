#!/usr/bin/env bash
# cpack of the build tree as built: the archive is named after the version,
# unpacks into one folder that holds what an installation must
# (tree_checks.sh) and a README naming the Debian packages of every library
# the binaries link, and its executable, run where it lies against its own
# camsim, passes the smoke run.
# usage: archive_tree.sh CPACK BUILD_DIR VERSION LIBDIR CHINESE_UI CLOSEWINDOW ARTIFACT_DIR
set -euo pipefail
cpack="$1"; build="$2"; version="$3"; libdir="$4"; chinese="$5"; closer="$6"; artifacts="$7"
here="$(cd "$(dirname "$0")" && pwd)"
unset LD_LIBRARY_PATH

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
name="overlaytuner-$version-linux-$(uname -m)"
[ -f "$work/out/$name.tar.gz" ] || fail "no $name.tar.gz: $(ls "$work/out")"
(cd "$work/out" && sha256sum --quiet -c "$name.tar.gz.sha256") || fail "the checksum does not match"
outside="$(tar -tzf "$work/out/$name.tar.gz" | grep -v "^$name/" || true)"
[ -z "$outside" ] || fail "members outside $name/: $outside"

mkdir "$work/unpacked"
tar -xzf "$work/out/$name.tar.gz" -C "$work/unpacked"
root="$work/unpacked/$name"
echo "unpacked $name.tar.gz"

. "$here/tree_checks.sh"
check_tree "$root" "$libdir" "$chinese" || exit 1

# Every library a binary names, by the Debian package that holds it; the C
# and C++ runtimes and the sanitizers' are there on any system that runs a
# desktop (or were built in on purpose).
[ -f "$root/README.txt" ] || fail "no README.txt"
declare -A needed_by=()
for f in "$root/bin/overlaytuner" "$root/bin/camsim" "$root/$libdir/libcamnetsdk.so"; do
    for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'); do
        case "$lib" in
        libcamnetsdk.so | ld-linux*) continue ;;
        esac
        path="$(ldd "$f" | awk -v lib="$lib" '$1 == lib {print $3}')"
        [ -n "$path" ] || fail "$f: ldd does not resolve $lib"
        needed_by["$(realpath "$path")"]="$lib of $(basename "$f")"
    done
done
# Debian 12 ships some libraries under /lib, others under /usr/lib; one query
# for all of them, since each reads dpkg's whole database.
paths=()
for real in "${!needed_by[@]}"; do
    paths+=("/usr${real#/usr}" "${real#/usr}")
done
owners="$(dpkg -S "${paths[@]}" 2>/dev/null || true)"
for real in "${!needed_by[@]}"; do
    package="$(awk -F': ' -v a="/usr${real#/usr}" -v b="${real#/usr}" \
        '$2 == a || $2 == b {sub(/:.*/, "", $1); print $1; exit}' <<<"$owners")"
    [ -n "$package" ] || fail "no Debian package holds $real (${needed_by[$real]})"
    case "$package" in
    libc6 | libgcc-s1 | libstdc++6 | libasan* | libubsan*) continue ;;
    esac
    grep -qw -- "$package" "$root/README.txt" ||
        fail "README.txt does not name $package, which holds ${needed_by[$real]}"
done
echo "README.txt names the packages of every library the binaries link"

smoke_tree "$root" "$chinese" "$closer" "$artifacts"
