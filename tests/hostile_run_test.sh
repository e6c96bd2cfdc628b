#!/usr/bin/env bash
# Makes damaged copies of one seed per input format with zzuf, with fixed seeds so that a
# failure can be replayed (zzuf -r 0.004 -s SEED < seed > copy), and runs hostile_run_tests
# over them under Wine.
#   hostile_run_test.sh <hostile_run_tests.exe> <corpus>
# VORANDEL_FUZZ_SEEDS=N makes N copies per format (default 4). Runs on a display (ctest under
# xvfb-run).
set -euo pipefail
exe=$1 corpus=$2
here="$(cd "$(dirname "$0")" && pwd)"
count=${VORANDEL_FUZZ_SEEDS:-4}
command -v zzuf >/dev/null || { echo "FAIL: zzuf is not installed (./dev.sh installs it)" >&2; exit 1; }

seeds="png/pillow/hopper.png gif/pillow/hopper.gif bmp/bmpsuite/g/pal8.bmp
tiff/pillow/hopper_lzw.tif jpeg/pillow/hopper.jpg webp/pillow/hopper.webp ico/pillow/python.ico
metafile/libemf2svg/test-000.emf metafile/libwmf/2doorvan.wmf"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for seed in $seeds; do
    extension=${seed##*.}
    mkdir -p "$work/$extension"
    cp "$corpus/$seed" "$work/$extension/seed.$extension"
    for s in $(seq 1 "$count"); do
        zzuf -r 0.004 -s "$s" <"$corpus/$seed" >"$work/$extension/$s.$extension"
    done
done
VORANDEL_FUZZ_VARIANTS=$work "$here/../scripts/wine-run" "$exe"
