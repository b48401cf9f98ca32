#!/usr/bin/env bash
# Checks a zem-tools .deb without installing it: exactly the expected files,
# the control fields, the documentation Debian asks for, that the unpacked
# programs run from any directory with the library they bring, that a program
# builds against the unpacked zem-virtual.pc, and lintian.
# Usage: check_deb.sh <file.deb | directory holding one zem-tools_*.deb>
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)

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
field() { dpkg-deb -f "$deb" "$1"; }

version=$(field Version)
upstream=${version%-*}
multiarch=$(dpkg-architecture -a "$(field Architecture)" -qDEB_HOST_MULTIARCH 2>/dev/null)
private=usr/lib/$multiarch/zem-tools
windows=(zem_debugger zem_bench)

# Programs the package must bring, and those it may bring; each program that
# is there comes with its manual page, and must answer --help and --version.
programs=(zem_debugger zem_bench zem_example zem_gantry_sim)
optional_programs=(zemctl)
# Files that belong to an optional program and come only with it.
optional_files=(./usr/share/bash-completion/completions/zemctl "./$private/zemctl_measure.so"
    "./$private/zemctl_signature.so")
# The Python package, when the build had pybind11: its files come together.
python_dir=usr/lib/python3/dist-packages/zem
python_files=("./$python_dir/__init__.py" "./$python_dir/__init__.pyi" "./$python_dir/_history.py"
    "./$python_dir/_types.py" "./$python_dir/pytest_plugin.py" "./$python_dir/py.typed")

actual=$(dpkg -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
for p in "${optional_programs[@]}"; do
    grep -qxF "./usr/bin/$p" <<<"$actual" && programs+=("$p")
done
# Anything more (a test or benchmark program, a versioned link, a library in a
# public directory) or anything less is a packaging fault.
expected=(
    ./usr/include/zem-virtual/zem.h
    "./usr/lib/$multiarch/pkgconfig/zem-virtual.pc"
    "./$private/libzem.so"
    ./usr/share/doc/zem-tools/changelog.Debian.gz
    ./usr/share/doc/zem-tools/copyright
    ./usr/share/zem-tools/sql/reader_role.sql
    ./usr/share/zem-tools/sql/station_role.sql
    ./usr/share/zem-tools/grafana/zem-history.json
    ./usr/share/zem-tools/predict-models.json
)
for f in demo.d356 demo-bom.csv demo-pos.csv demo.png demo.json good.url faulty.url; do
    expected+=("./usr/share/zem-tools/demo/$f")
done
for w in "${windows[@]}"; do
    expected+=("./usr/share/applications/$w.desktop" "./usr/share/icons/hicolor/64x64/apps/$w.png"
        "./usr/share/metainfo/org.zem_tools.$w.metainfo.xml")
done
for p in "${programs[@]}"; do
    expected+=("./usr/bin/$p" "./usr/share/man/man1/$p.1.gz")
done
for f in "${optional_files[@]}"; do
    grep -qxF "$f" <<<"$actual" && expected+=("$f")
done
# zemctl's page a subcommand: which ones it must be is checked against its
# --help once unpacked.
subcommand_pages=$(grep -xE '\./usr/share/man/man1/zemctl-[a-z]+\.1\.gz' <<<"$actual" || true)
[ -z "$subcommand_pages" ] || expected+=($subcommand_pages)
python_module=$(grep -xE "\./$python_dir/_zem\.cpython-[^/]*\.so" <<<"$actual" || true)
if [ -n "$python_module" ]; then
    expected+=("$python_module" "${python_files[@]}")
fi
expected=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$actual" != "$expected" ]; then
    fail "content differs from the expected files:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
fi

[ "$(field Package)" = zem-tools ] || fail "Package is '$(field Package)'"
[[ "$version" =~ ^[0-9][0-9.]*-[0-9]+$ ]] || fail "Version '$version' has no Debian revision"
maintainer=$(field Maintainer)
[[ "$maintainer" =~ ^[^\<]+\ \<[^@]+@[^@]+\.[a-z]+\>$ && "$maintainer" != *@localhost* ]] \
    || fail "Maintainer is '$maintainer'"
depends=$(field Depends)
# The links' own, then what no link says: the default history's SQLite
# driver, the platform plugins, a font and ngspice's library (opened at run
# time).
for p in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 libqt6sql6-sqlite \
    qt6-qpa-plugins fonts-dejavu-core libngspice0; do
    [[ "$depends" == *"$p"* ]] || fail "Depends lacks $p: $depends"
done
# Our own library is inside; a dependency on it could never be met.
[[ "$depends" != *zem* ]] || fail "Depends names our own library: $depends"

root=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$root" "$work"' EXIT
dpkg -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
# A library in a private directory is no business of ldconfig's.
if grep -ls ldconfig "$work"/control/{postinst,postrm,triggers} >&2; then
    fail "maintainer scripts or triggers call ldconfig"
fi

doc=$root/usr/share/doc/zem-tools
head -n 1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
    || fail "copyright is not in the machine-readable format"
grep -q '^License: MIT$' "$doc/copyright" || fail "copyright names no MIT licence"
zcat "$doc/changelog.Debian.gz" 2>/dev/null | head -n 1 | grep -qF "zem-tools ($version) " \
    || fail "changelog.Debian.gz does not start with an entry for $version"

for program in "${programs[@]}"; do
    dynamic=$(readelf -d "$root/usr/bin/$program" 2>&1)
    runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' <<<"$dynamic")
    # An RPATH would come before LD_LIBRARY_PATH and lock a vendor's library out.
    ! grep -q '(RPATH)' <<<"$dynamic" || fail "$program has an RPATH"
    if ! grep -q 'NEEDED.*\[libzem\.so\]' <<<"$dynamic"; then
        # A program without our library (the virtual gantry) looks nowhere private.
        [ -z "$runpath" ] || fail "$program links no libzem.so but has RUNPATH '$runpath'"
    else
        [ "$runpath" = "\$ORIGIN/../lib/$multiarch/zem-tools" ] || fail "$program RUNPATH is '$runpath'"
        # The unpacked copy, not one installed on this machine, must be the one found.
        resolved=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program" | awk '$1 == "libzem.so" { print $3 }' || true)
        [ "$(readlink -f "$resolved")" = "$(readlink -f "$root/$private/libzem.so")" ] \
            || fail "$program resolves libzem.so to '$resolved'"
        mkdir -p "$work/vendor" && cp "$root/$private/libzem.so" "$work/vendor/"
        resolved=$(LD_LIBRARY_PATH=$work/vendor ldd "$root/usr/bin/$program" | awk '$1 == "libzem.so" { print $3 }' || true)
        [ "$resolved" = "$work/vendor/libzem.so" ] \
            || fail "$program ignores LD_LIBRARY_PATH for libzem.so: '$resolved'"
    fi

    # Both answered without a display.
    for option in --help --version; do
        if ! (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LD_LIBRARY_PATH \
                timeout 20 "$root/usr/bin/$program" "$option" </dev/null >"$work/out" 2>&1); then
            fail "$program $option failed:"
            cat "$work/out" >&2
        fi
    done
    head -n 1 "$work/out" | grep -qF "$upstream" || fail "$program --version does not print $upstream"
    zcat "$root/usr/share/man/man1/$program.1.gz" 2>/dev/null | grep -q "^\.TH ${program^^} " \
        || fail "the manual page of $program is missing or not its own"
done
# zemctl: a page for each subcommand its --help names under "Tools:", and each
# page, as the program's own, lists the environment and every exit status.
if [ -x "$root/usr/bin/zemctl" ]; then
    help=$(env -u LD_LIBRARY_PATH "$root/usr/bin/zemctl" --help)
    subcommands=$(sed -n '/^Tools:$/,/^$/s/^  \([a-z]*\) .*/\1/p' <<<"$help")
    wanted=$(for s in $subcommands; do echo "./usr/share/man/man1/zemctl-$s.1.gz"; done | sort)
    [ -n "$subcommands" ] && [ "$wanted" = "$(sort <<<"$subcommand_pages")" ] \
        || fail "zemctl's subcommand pages are not one for each of: $(echo $subcommands)"
    codes=$(sed -n '/^Exit status:$/,/^$/s/^  \([0-9][0-9]*\) .*/\1/p' <<<"$help")
    [ -n "$codes" ] || fail "zemctl --help lists no exit status"
    for page in zemctl $(for s in $subcommands; do echo "zemctl-$s"; done); do
        roff=$(zcat "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null || true)
        grep -q '^\.SH ENVIRONMENT' <<<"$roff" && grep -q 'ZEM_URL' <<<"$roff" \
            || fail "the manual page $page names no environment"
        for code in $codes; do
            grep -qxE "($code|\\\\fB$code\\\\fR)" <<<"$roff" || fail "the manual page $page lacks exit status $code"
        done
    done
fi
for w in "${windows[@]}"; do
    zcat "$root/usr/share/man/man1/$w.1.gz" 2>/dev/null | grep -q '^\.SH ENVIRONMENT' \
        || fail "the manual page of $w names no environment"
done

soname=$(readelf -d "$root/$private/libzem.so" 2>&1 | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p' || true)
[ "$soname" = libzem.so ] || fail "libzem.so has soname '$soname'"

# Each window's menu entry, icon and AppStream description.
for w in "${windows[@]}"; do
    desktop=$root/usr/share/applications/$w.desktop
    metainfo=usr/share/metainfo/org.zem_tools.$w.metainfo.xml
    if command -v desktop-file-validate >/dev/null; then
        # Hints too: a second main category shows the entry twice in menus.
        out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "$w desktop file: $out"
    fi
    grep -qx "Exec=$w" "$desktop" || fail "desktop file does not start $w"
    grep -qx "Icon=$w" "$desktop" || fail "$w's desktop file does not name the installed icon"
    file "$root/usr/share/icons/hicolor/64x64/apps/$w.png" 2>&1 | grep -q 'PNG image data, 64 x 64' \
        || fail "$w's icon is not a 64x64 PNG"
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$root/$metainfo" >"$work/out" 2>&1 || {
            fail "$w's metainfo does not validate:"
            cat "$work/out" >&2
        }
    fi
    grep -qF "<release version=\"$upstream\"" "$root/$metainfo" || fail "$w's metainfo has no release $upstream"
    grep -qF "<launchable type=\"desktop-id\">$w.desktop</launchable>" "$root/$metainfo" \
        || fail "$w's metainfo does not launch the desktop entry"
done

# A program of someone else's, built against the unpacked tree through its .pc
# only, runs with our library and no LD_LIBRARY_PATH.
if ! PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig cc -Wall -Wextra -Werror -o "$work/serial" \
        "$here/../docs/examples/serial.c" $(PKG_CONFIG_PATH=$root/usr/lib/$multiarch/pkgconfig \
        pkg-config --cflags --libs zem-virtual) >"$work/out" 2>&1; then
    fail "docs/examples/serial.c does not build against zem-virtual.pc:"
    cat "$work/out" >&2
elif ! env -u LD_LIBRARY_PATH "$work/serial" | grep -Eqx 'Serial number: [0-9]+'; then
    fail "the program built against zem-virtual.pc does not print the serial number"
fi

# The Python package finds the unpacked libzem.so through its RUNPATH, measures,
# and names the Python it needs.
if [ -n "$python_module" ]; then
    dynamic=$(readelf -d "$root/$python_module" 2>&1)
    runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' <<<"$dynamic")
    [ "$runpath" = "\$ORIGIN/../../../$multiarch/zem-tools" ] || fail "the Python module's RUNPATH is '$runpath'"
    ! grep -q '(RPATH)' <<<"$dynamic" || fail "the Python module has an RPATH"
    if ! (cd "$work" && env -u LD_LIBRARY_PATH PYTHONPATH="$root/usr/lib/python3/dist-packages" \
            /usr/bin/python3 -c "import zem; print(zem.open('virtual://resistor?ohms=1000&noise=0').measure().figures)" \
            >"$work/python.out" 2>&1) || ! grep -qF 'slope 1.00 kΩ' "$work/python.out"; then
        fail "the unpacked Python package does not measure:"
        cat "$work/python.out" >&2
    fi
    [[ "$depends" == *"python3 (>= "* ]] || fail "Depends names no python3 version: $depends"
    [[ "$depends" == *python3-numpy* ]] || fail "Depends lacks python3-numpy: $depends"
fi

# Run from an unrelated directory: nothing may depend on the build tree.
if ! (cd "$work" && echo virtual://diode | env -u LD_LIBRARY_PATH "$root/usr/bin/zem_example" \
        >"$work/example.out" 2>&1); then
    fail "zem_example failed:"
    cat "$work/example.out" >&2
fi
grep -q '"voltage": \[' "$work/results.json" 2>/dev/null \
    && grep -q '"current": \[' "$work/results.json" \
    || fail "zem_example wrote no curve to results.json"
for w in "${windows[@]}"; do
    if ! (cd "$work" && env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen ZEM_EXIT_AFTER_SHOW=1 \
            timeout 60 "$root/usr/bin/$w" >"$work/$w.out" 2>&1); then
        fail "$w did not start and quit:"
        cat "$work/$w.out" >&2
    fi
done

# The demo board tests as the guides say: the good board passes, the faulty one fails.
if [ -x "$root/usr/bin/zemctl" ]; then
    demo=$root/usr/share/zem-tools/demo
    for board in good:0 faulty:5; do
        status=0
        (cd "$work" && env -u LD_LIBRARY_PATH "$root/usr/bin/zemctl" -u "$(cat "$demo/${board%:*}.url")" \
            test "$demo/demo.json" --no-history >"$work/demo.out" 2>&1) || status=$?
        [ "$status" = "${board#*:}" ] || fail "the demo's ${board%:*} board tests with exit $status"
    done
fi

# lintian: no error, and no warning but those the package guide explains.
allowed_warnings=(initial-upload-closes-no-bugs)
if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>/dev/null || true
    cat "$work/lintian"
    grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
    while read -r tag; do
        [[ " ${allowed_warnings[*]} " == *" $tag "* ]] || fail "lintian warning $tag is not one docs/package.md explains"
    done < <(sed -n 's/^W: [^ ]* \([^ ]*\).*/\1/p' "$work/lintian" | sort -u)
else
    fail "lintian is not installed (scripts/setup.sh installs it)"
fi

if [ "$failures" -ne 0 ]; then
    echo "$deb: $failures check(s) failed" >&2
    exit 1
fi
echo "$deb: content, control fields, documentation, unpacked programs, SDK and lintian are as expected"
