#!/usr/bin/env bash
# Makes damaged copies of one seed per input format with zzuf, with fixed seeds so that a
# failure can be replayed (zzuf -r 0.004 -s SEED < seed > copy), and runs hostile_run_tests
# over them under Wine. Photos from make_photos.sh are seeds too, with copies damaged only
# outside their picture data (zzuf -r 0.0001 -b RANGES -s SEED), where the ICC profile, EXIF
# and XMP lie, so that the picture still decodes and the metadata is what breaks. Animations
# and a multi-page TIFF from make_frames.sh are seeds as well.
#   hostile_run_test.sh <hostile_run_tests.exe> <corpus>
# VORANDEL_FUZZ_SEEDS=N makes N copies per seed and kind (default 4). Runs on a display (ctest
# under xvfb-run).
set -euo pipefail
exe=$1 corpus=$2
here="$(cd "$(dirname "$0")" && pwd)"
count=${VORANDEL_FUZZ_SEEDS:-4}
command -v zzuf >/dev/null || { echo "FAIL: zzuf is not installed (./dev.sh installs it)" >&2; exit 1; }

seeds="png/pillow/hopper.png gif/pillow/hopper.gif bmp/bmpsuite/g/pal8.bmp
tiff/pillow/hopper_lzw.tif jpeg/pillow/hopper.jpg webp/pillow/hopper.webp ico/pillow/python.ico
metafile/libemf2svg/test-000.emf metafile/libwmf/2doorvan.wmf"
work=$(mktemp -d) photos=$(mktemp -d)
trap 'rm -rf "$work" "$photos"' EXIT
# A seed and its damaged copies in a folder of their own.
damaged_copies() { # <seed> <folder>
    local extension=${1##*.}
    mkdir -p "$2"
    cp "$1" "$2/seed.$extension"
    for s in $(seq 1 "$count"); do
        zzuf -r 0.004 -s "$s" <"$1" >"$2/$s.$extension"
    done
}
for seed in $seeds; do damaged_copies "$corpus/$seed" "$work/${seed##*.}"; done

# zzuf's byte ranges of all but a file's signature, header and picture data: JPEG's segments
# before the scan, PNG's chunks but IHDR, IDAT and IEND, WebP's chunks but the bitstreams,
# a TIFF's bytes outside its strips.
outside_picture() {
    python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
ranges = []
if data[:2] == b"\xff\xd8":
    at = 2
    while data[at + 1] != 0xDA:
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    ranges.append((2, at))
elif data[:8] == b"\x89PNG\r\n\x1a\n":
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind not in (b"IHDR", b"IDAT", b"IEND"):
            ranges.append((at, at + 12 + length))
        at += 12 + length
elif data[:4] == b"RIFF":
    at = 12
    while at < len(data):
        kind, length = struct.unpack("<4sI", data[at:at + 8])
        if kind not in (b"VP8 ", b"VP8L", b"ALPH"):
            ranges.append((at, at + 8 + length))
        at += 8 + length + (length & 1)
else:
    order = "<" if data[:2] == b"II" else ">"
    ifd = struct.unpack(order + "I", data[4:8])[0]
    fields = {}
    for i in range(struct.unpack(order + "H", data[ifd:ifd + 2])[0]):
        tag, kind, n = struct.unpack(order + "HHI", data[ifd + 2 + 12 * i:ifd + 10 + 12 * i])
        fields[tag] = (kind, n, ifd + 10 + 12 * i)
    def values(tag):
        kind, n, at = fields[tag]
        size = 2 if kind == 3 else 4
        if size * n > 4:
            at = struct.unpack(order + "I", data[at:at + 4])[0]
        return [struct.unpack(order + ("H" if size == 2 else "I"), data[at + size * i:at + size * (i + 1)])[0]
                for i in range(n)]
    strips = sorted(zip(values(273), values(279)))
    ranges = [(8, strips[0][0]), (strips[-1][0] + strips[-1][1], len(data))]
print(",".join("%d-%d" % (start, end - 1) for start, end in ranges if end > start))
EOF
}

# The photos: each a folder below its extension's, holding the seed and its copies.
bash "$here/make_photos.sh" "$corpus" "$photos" >/dev/null
for photo in adobe_rgb.jpg odd/split_icc.jpg prophoto_rgb.png odd/raw_profile_exif.png \
             wide_gamut_rgb.tif adobe_rgb_lossless.webp; do
    extension=${photo##*.} name=$(basename "$photo" ".${photo##*.}")
    folder=$work/$extension/$name
    mkdir -p "$folder"
    cp "$photos/photos/$photo" "$folder/seed.$extension"
    ranges=$(outside_picture "$folder/seed.$extension")
    echo "metadata-N.$extension in $extension/$name: zzuf -r 0.0001 -b $ranges -s N"
    for s in $(seq 1 "$count"); do
        zzuf -r 0.004 -s "$s" <"$folder/seed.$extension" >"$folder/$s.$extension"
        zzuf -r 0.0001 -b "$ranges" -s "$s" <"$folder/seed.$extension" >"$folder/metadata-$s.$extension"
    done
done
# Animations and a multi-page TIFF (make_frames.sh), damaged as the seeds above: their later
# frames and pages, and the blocks between them, break too.
bash "$here/make_frames.sh" "$photos/frames"
for made in "$photos"/frames/*; do
    name=$(basename "$made")
    damaged_copies "$made" "$work/${made##*.}/${name%.*}"
done
VORANDEL_FUZZ_VARIANTS=$work "$here/../scripts/wine-run" "$exe"
