#!/usr/bin/env bash
# Checks a zem-tools .deb without installing it: exactly the expected files,
# the control fields, and that the unpacked programs run from any directory
# with the library they bring.
# Usage: check_deb.sh <file.deb | directory holding one zem-tools_*.deb>
set -euo pipefail

deb=${1:?usage: check_deb.sh <file.deb | directory>}
if [ -d "$deb" ]; then
    shopt -s nullglob
    found=("$deb"/zem-tools_*.deb)
    if [ ${#found[@]} -ne 1 ]; then
        echo "FAIL: expected one zem-tools_*.deb in $deb, found ${#found[@]}" >&2
        exit 1
    fi
    deb=${found[0]}
fi

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Anything more (a test or benchmark program, a header, a versioned link) or
# anything less is a packaging fault.
expected="./usr/bin/zem_debugger
./usr/bin/zem_example
./usr/lib/libzem.so
./usr/share/applications/zem_debugger.desktop
./usr/share/icons/hicolor/64x64/apps/zem_debugger.png"
actual=$(dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
if [ "$actual" != "$expected" ]; then
    fail "content differs from the expected files:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zem-tools ] || fail "Package is '$(field Package)'"
depends=$(field Depends)
for p in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
    [[ "$depends" == *"$p"* ]] || fail "Depends lacks $p: $depends"
done
# Our own library is inside; a dependency on it could never be met.
[[ "$depends" != *zem* ]] || fail "Depends names our own library: $depends"

root=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$root" "$work"' EXIT
dpkg -x "$deb" "$root"

for program in zem_debugger zem_example; do
    runpath=$(readelf -d "$root/usr/bin/$program" 2>&1 | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' || true)
    [ "$runpath" = '$ORIGIN/../lib' ] || fail "$program RUNPATH is '$runpath'"
    # The unpacked copy, not one installed on this machine, must be the one found.
    resolved=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program" | awk '$1 == "libzem.so" { print $3 }' || true)
    [ "$(readlink -f "$resolved")" = "$(readlink -f "$root/usr/lib/libzem.so")" ] \
        || fail "$program resolves libzem.so to '$resolved'"
done
soname=$(readelf -d "$root/usr/lib/libzem.so" 2>&1 | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' || true)
[ "$soname" = libzem.so ] || fail "libzem.so has soname '$soname'"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate --no-hints "$root/usr/share/applications/zem_debugger.desktop" \
        || fail "desktop file does not validate"
fi
grep -qx 'Exec=zem_debugger' "$root/usr/share/applications/zem_debugger.desktop" \
    || fail "desktop file does not start zem_debugger"
grep -qx 'Icon=zem_debugger' "$root/usr/share/applications/zem_debugger.desktop" \
    || fail "desktop file does not name the installed icon"
file "$root/usr/share/icons/hicolor/64x64/apps/zem_debugger.png" 2>&1 | grep -q 'PNG image data, 64 x 64' \
    || fail "icon is not a 64x64 PNG"

# Run from an unrelated directory: nothing may depend on the build tree.
if ! (cd "$work" && echo virtual://diode | env -u LD_LIBRARY_PATH "$root/usr/bin/zem_example" \
        >"$work/example.out" 2>&1); then
    fail "zem_example failed:"
    cat "$work/example.out" >&2
fi
grep -q '"voltage": \[' "$work/results.json" 2>/dev/null \
    && grep -q '"current": \[' "$work/results.json" \
    || fail "zem_example wrote no curve to results.json"
if ! (cd "$work" && env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen ZEM_EXIT_AFTER_SHOW=1 \
        timeout 60 "$root/usr/bin/zem_debugger" >"$work/debugger.out" 2>&1); then
    fail "zem_debugger did not start and quit:"
    cat "$work/debugger.out" >&2
fi

if [ "$failures" -ne 0 ]; then
    echo "$deb: $failures check(s) failed" >&2
    exit 1
fi
echo "$deb: content, control fields and unpacked programs are as expected"
