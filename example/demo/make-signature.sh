#!/usr/bin/env bash
# Makes the demo board's signature from its CAD files and picture with our own
# programs, learned on the good board of the virtual instrument (good.url: the
# k-th load of pins= is the k-th point of the netlist). The guide test makes
# it again and compares it with demo.json. Usage: make-signature.sh [OUT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/demo.json}
rm -f "$out"
zemctl board "$out" --import "$here/demo.d356" --bom "$here/demo-bom.csv" >/dev/null
# The picture: 20 pixels a millimetre, the board's lower-left corner at pixel
# (20, 620), as make_picture.py draws it.
places=()
for p in R1.1=8,22 R1.2=14,22 R2.1=8,16 R2.2=14,16 D1.2=8,10 D1.1=14,10 C1.1=24,22 C1.2=30,22 TP1=24,10; do
    IFS='=,' read -r name x y <<<"$p"
    places+=(--place "$name=$((20 + 20 * x)),$((620 - 20 * y))")
done
zemctl board "$out" --image "$here/demo.png" --fiducial F1=3,3,80,560 --fiducial F2=37,3,760,560 \
    --fiducial F3=3,27,80,80 "${places[@]}" >/dev/null
# Placing on the registered picture sets each point's mm from the fit; the
# netlist's own figures are exact.
zemctl board "$out" --import "$here/demo.d356" >/dev/null
zemctl -u "$(cat "$here/good.url")" learn "$out" >/dev/null
