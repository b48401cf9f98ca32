#!/usr/bin/env bash
# Installs a zem-tools .deb into a minimal Debian root without recommended
# packages, as a new station would, and uses it there: a board test with the
# default history, a Python measurement read as an array, the window started
# and quit offscreen. Whatever the package forgot to depend on fails here.
# Usage: install_check.sh <file.deb | folder with one> <root folder, made with
# debootstrap when empty>. Exit 77 (skipped) without root or debootstrap.
set -euo pipefail
export LC_ALL=C
deb=${1:?usage: install_check.sh <file.deb | folder> <root>}
root=${2:?usage: install_check.sh <file.deb | folder> <root>}
if [ -d "$deb" ]; then
    deb=$(ls "$deb"/zem-tools_*.deb)
fi
deb=$(realpath "$deb")
if [ "$(id -u)" -ne 0 ] || ! command -v debootstrap >/dev/null; then
    echo "install_check.sh: skipped: needs root and debootstrap" >&2
    exit 77
fi
suite=${ZEM_SUITE:-bookworm}
mirror=${ZEM_MIRROR:-http://deb.debian.org/debian}

if [ ! -x "$root/usr/bin/apt-get" ]; then
    mkdir -p "$root"
    debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
        tail -20 "$root.debootstrap.log" >&2
        exit 1
    }
fi

mounted=()
cleanup() {
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" || true; done
}
trap cleanup EXIT
for fs in proc dev; do
    mount --bind "/$fs" "$root/$fs"
    mounted+=("$root/$fs")
done
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$root/tmp/zem-tools.deb"

in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"
}

in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends /tmp/zem-tools.deb >/dev/null

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A board learned, then tested and kept in the default history.
url='virtual://open?pins=resistor:1000,diode'
if ! out=$(in_root sh -c "cd /tmp && zemctl -u '$url' learn b.json --points R1,D1 &&
        zemctl -u '$url' test b.json && zemctl history runs" 2>&1); then
    fail "zemctl learn, test and history runs: $out"
elif ! grep -q '"verdict":"pass"' <<<"$out" || grep -q 'not recorded\|QCoreApplication' <<<"$out"; then
    fail "zemctl test with the default history: $out"
fi

# A curve read as a NumPy array.
if ! out=$(in_root python3 -c \
        "import zem; print(float(zem.open('virtual://resistor?noise=0').measure().voltage[-1]))" 2>&1); then
    fail "Python measurement: $out"
fi

# The windows started and quit, offscreen, with nothing said about plugins.
install -d -m 0700 "$root/tmp/xdg"
for w in zem_debugger zem_bench; do
    if ! out=$(in_root env QT_QPA_PLATFORM=offscreen ZEM_EXIT_AFTER_SHOW=1 \
            XDG_RUNTIME_DIR=/tmp/xdg $w 2>&1); then
        fail "$w offscreen: $out"
    elif grep -qi 'could not load\|could not find\|cannot find font\|no fonts' <<<"$out"; then
        fail "$w offscreen warned: $out"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "install_check.sh: $failures failure(s) in a minimal root" >&2
    exit 1
fi
echo "install_check.sh: installed without recommends and used: zemctl test, Python, the windows"
