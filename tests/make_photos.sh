#!/usr/bin/env bash
# Photos as cameras and editors leave them, made from the corpus's flower.jpg: an upright sRGB
# reference, and inputs whose pixels are really in their ICC profile's space and stored turned
# back for EXIF orientation 6, with EXIF (date, camera, GPS, a thumbnail where the container
# takes one) and XMP (dc:title). Then the odd ones: a profile that is sRGB, ImageMagick's
# "Raw profile type exif" text chunk instead of eXIf, a profile split over several APP2
# segments, and an EXIF segment whose first directory lies past its end.
#   make_photos.sh <corpus> <out>
# Writes <out>/reference.png and <out>/photos/ (the inputs, the odd ones in odd/), checks each
# input with exiftool and ImageMagick and prints its error against the reference.
set -euo pipefail
corpus=$1 out=$2
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"
for tool in cwebp webpmux python3; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (./dev.sh installs it)" >&2; exit 1; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }
quiet() { # a tool that tells of its success; its words only when it fails
    local said
    said=$("$@" 2>&1) || { printf '%s\n' "$said" >&2; return 1; }
}

adobe_icc=$(profile_path colord/AdobeRGB1998.icc)
prophoto_icc=$(profile_path colord/ProPhotoRGB.icc)
wide_icc=$(profile_path colord/WideGamutRGB.icc)
compatible_icc=$(profile_path icc/compatibleWithAdobeRGB1998.icc)  # ICC v2, where colord's are v4
srgb_v2_icc=$(profile_path icc/sRGB.icc)

photos=$out/photos
mkdir -p "$photos/odd"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ref=$out/reference.png
"$im_convert" "$corpus/jpeg/pillow/flower.jpg" -strip -alpha off -depth 8 "PNG24:$ref"
read -r width height < <("$im_convert" "$ref" -format '%w %h\n' info:)

# The reference's pixels stored turned back for orientation 6 (unless told 1), converted
# from sRGB into icc's space (none: left in sRGB), written by ImageMagick without metadata.
pixels() { # <icc or ""> <orientation> <destination> [ImageMagick output options...]
    local icc=$1 orientation=$2 destination=$3
    shift 3
    local steps=()
    [ "$orientation" = 6 ] && steps+=(-rotate 270)
    [ -n "$icc" ] && steps+=(-profile "$srgb_icc" -profile "$icc")
    "$im_convert" "$ref" "${steps[@]}" -strip "$@" "$destination"
}
jpeg_options=(-quality 95 -sampling-factor 1x1)
png_options=(-define "png:exclude-chunk=bKGD,cHRM,gAMA,sRGB,tEXt,zTXt,iTXt,date,tIME,pHYs")

# Stored width and height swap for orientation 6.
exif_tags() { # <orientation>
    local w=$height h=$width
    [ "$1" = 6 ] || { w=$width; h=$height; }
    printf '%s\n' -EXIF:Make="Vorandel Test Camera" -EXIF:Model="Flower 480" \
        -EXIF:DateTimeOriginal="2003:12:14 12:01:44" \
        -EXIF:GPSLatitude#=48.858222 -EXIF:GPSLatitudeRef#=N \
        -EXIF:GPSLongitude#=2.2945 -EXIF:GPSLongitudeRef#=E \
        -EXIF:Orientation#="$1" -EXIF:ExifImageWidth#="$w" -EXIF:ExifImageHeight#="$h"
}
mapfile -t exif6 < <(exif_tags 6)
mapfile -t exif1 < <(exif_tags 1)
"$im_convert" "$ref" -resize 160x120 -rotate 270 -quality 80 "$tmp/thumb.jpg"
thumbnail=("-ThumbnailImage<=$tmp/thumb.jpg")

metadata() { # <file> <icc or ""> <title> [more exiftool arguments...]
    local file=$1 icc=$2 title=$3
    shift 3
    local icc_argument=()
    [ -n "$icc" ] && icc_argument=("-ICC_Profile<=$icc")
    exiftool -q -overwrite_original "${icc_argument[@]}" "-XMP-dc:Title=$title" "$@" "$file" >/dev/null
}

# The four photos.
pixels "$adobe_icc" 6 "$photos/adobe_rgb.jpg" "${jpeg_options[@]}"
metadata "$photos/adobe_rgb.jpg" "$adobe_icc" "Blume – Adobe RGB JPEG 花" "${exif6[@]}" "${thumbnail[@]}"

pixels "$prophoto_icc" 6 "PNG24:$photos/prophoto_rgb.png" "${png_options[@]}"
metadata "$photos/prophoto_rgb.png" "$prophoto_icc" "Blume – ProPhoto PNG 花" "${exif6[@]}" "${thumbnail[@]}"

pixels "$wide_icc" 6 "$photos/wide_gamut_rgb.tif" -compress LZW
# ImageMagick writes sRGB's chromaticities into every TIFF; they would contradict the profile.
metadata "$photos/wide_gamut_rgb.tif" "$wide_icc" "Blume – Wide Gamut TIFF 花" "${exif6[@]}" \
    -IFD0:WhitePoint= -IFD0:PrimaryChromaticities=

# WebP through libwebp's own tools: the EXIF block (with its thumbnail) is the JPEG's.
exiftool -q -b -EXIF "$photos/adobe_rgb.jpg" >"$tmp/exif.tiff"
exiftool -q "-XMP-dc:Title=Blume – Adobe RGB WebP 花" "$tmp/webp.xmp" >/dev/null
pixels "$adobe_icc" 6 "PNG24:$tmp/webp.png" "${png_options[@]}"
cwebp -quiet -lossless -exact "$tmp/webp.png" -o "$tmp/0.webp"
quiet webpmux -set icc "$adobe_icc" "$tmp/0.webp" -o "$tmp/1.webp"
quiet webpmux -set exif "$tmp/exif.tiff" "$tmp/1.webp" -o "$tmp/2.webp"
quiet webpmux -set xmp "$tmp/webp.xmp" "$tmp/2.webp" -o "$photos/adobe_rgb_lossless.webp"

# The odd ones.
pixels "" 6 "$photos/odd/srgb.jpg" "${jpeg_options[@]}"
metadata "$photos/odd/srgb.jpg" "$srgb_v2_icc" "Blume – sRGB JPEG 花" "${exif6[@]}" "${thumbnail[@]}"

# EXIF as ImageMagick's older versions wrote it into PNG: hex in a zTXt chunk, with the
# "Exif\0\0" of JPEG's segment; before IDAT.
pixels "$compatible_icc" 6 "PNG24:$photos/odd/raw_profile_exif.png" "${png_options[@]}"
metadata "$photos/odd/raw_profile_exif.png" "$compatible_icc" "Blume – Raw profile PNG 花"
python3 - "$photos/odd/raw_profile_exif.png" "$tmp/exif.tiff" <<'EOF'
import binascii, struct, sys, zlib
path, exif = sys.argv[1], b"Exif\0\0" + open(sys.argv[2], "rb").read()
hexed = binascii.hexlify(exif).decode()
text = "\nexif\n%8d\n" % len(exif) + "".join("\n" + hexed[i:i + 72] for i in range(0, len(hexed), 72)) + "\n"
body = b"Raw profile type exif\0\0" + zlib.compress(text.encode())
chunk = struct.pack(">I", len(body)) + b"zTXt" + body + struct.pack(">I", zlib.crc32(b"zTXt" + body))
png = open(path, "rb").read()
at = png.index(b"IDAT") - 4
open(path, "wb").write(png[:at] + chunk + png[at:])
EOF

# Adobe RGB grown past three APP2 segments by a private tag of 150 000 bytes; the profile's
# ID is computed anew.
python3 - "$adobe_icc" "$tmp/large.icc" <<'EOF'
import hashlib, struct, sys
icc = open(sys.argv[1], "rb").read()
count = struct.unpack(">I", icc[128:132])[0]
table = [struct.unpack(">4sII", icc[132 + 12 * i:144 + 12 * i]) for i in range(count)]
data_start = 132 + 12 * count
padding = b"data" + bytes(4) + struct.pack(">I", 1) + bytes((i * 7919) % 251 for i in range(150000))
grown = len(icc) + 12 + (-(len(icc) + 12) % 4)
table = [(sig, offset + 12, size) for sig, offset, size in table] + [(b"vpad", grown, len(padding))]
listing = struct.pack(">I", len(table)) + b"".join(struct.pack(">4sII", *t) for t in table)
profile = bytearray(icc[:128] + listing + icc[data_start:])
profile += bytes(grown - len(profile)) + padding
profile[0:4] = struct.pack(">I", len(profile))
unhashed = bytearray(profile)
for start, end in ((44, 48), (64, 68), (84, 100)):
    unhashed[start:end] = bytes(end - start)
profile[84:100] = hashlib.md5(unhashed).digest()
open(sys.argv[2], "wb").write(profile)
EOF
pixels "$adobe_icc" 6 "$photos/odd/split_icc.jpg" "${jpeg_options[@]}"
metadata "$photos/odd/split_icc.jpg" "$tmp/large.icc" "Blume – split profile JPEG 花" "${exif6[@]}"

# An EXIF segment whose first directory lies 0xFFFFFF00 bytes on: past its end, and an offset
# that overflows 32 bits when a reader adds to it.
pixels "" 1 "$photos/odd/damaged_exif.jpg" "${jpeg_options[@]}"
metadata "$photos/odd/damaged_exif.jpg" "" "Blume – damaged EXIF JPEG 花" "${exif1[@]}"
python3 - "$photos/odd/damaged_exif.jpg" <<'EOF'
import sys
path = sys.argv[1]
jpeg = bytearray(open(path, "rb").read())
tiff = jpeg.index(b"Exif\0\0") + 6
order = "little" if jpeg[tiff:tiff + 2] == b"II" else "big"
jpeg[tiff + 4:tiff + 8] = (0xFFFFFF00).to_bytes(4, order)
open(path, "wb").write(jpeg)
EOF

chunk_names() {
    python3 - "$1" <<'EOF'
import struct, sys
png, at, names = open(sys.argv[1], "rb").read(), 8, []
while at < len(png):
    length, kind = struct.unpack(">I4s", png[at:at + 8])
    name = kind.decode()
    if kind in (b"tEXt", b"zTXt", b"iTXt"):
        name += "(" + png[at + 8:at + 8 + 80].split(b"\0")[0].decode() + ")"
    if not names or names[-1] != name:
        names.append(name)
    at += 12 + length
print(" ".join(names))
EOF
}
# Each input as the readers see it. The error through the profile must be small; for the
# wide spaces the error of a reader that ignores the profile must be large, or the test of
# the outputs would not notice a lost profile.
count_app2_icc() {
    python3 - "$1" <<'EOF'
import struct, sys
jpeg = open(sys.argv[1], "rb").read()
at, count = 2, 0
while jpeg[at + 1] != 0xDA:
    length = struct.unpack(">H", jpeg[at + 2:at + 4])[0]
    count += jpeg[at + 1] == 0xE2 and jpeg[at + 4:at + 16] == b"ICC_PROFILE\0"
    at += 2 + length
print(count)
EOF
}
printf '%-26s %-38s %-6s %-7s %-7s %s\n' input profile orient ignored through note
check_input() { # <relative path> <icc or ""> <orientation> <exif: yes|damaged>
    local file=$photos/$1 icc=$2 orientation=$3 exif=$4 note="" tags
    exiftool -q -q -b -ICC_Profile "$file" >"$tmp/found.icc" || true
    if [ -n "$icc" ]; then
        cmp -s "$icc" "$tmp/found.icc" || fail "$1: its ICC profile is not $icc"
    else
        [ ! -s "$tmp/found.icc" ] || fail "$1 has an ICC profile"
    fi
    tags=$(listing "$file")
    local exif_values
    exif_values=$(for tag in Orientation Make Model DateTimeOriginal GPSLatitude GPSLongitude; do
        value "$tags" "$tag"; done)
    if [ "$exif" = yes ]; then
        [ "$exif_values" = "$orientation
Vorandel Test Camera
Flower 480
2003:12:14 12:01:44
48.858222
2.2945" ] || fail "$1: exiftool reads $(tr '\n' ' ' <<<"$exif_values") from its EXIF"
        [ "$(grep -c '^\[IFD0\] *Make ' <<<"$tags")" = 1 ] || fail "$1: not one EXIF block"
    else
        [ -z "$exif_values" ] || fail "$1: exiftool reads $(tr '\n' ' ' <<<"$exif_values") from its damaged EXIF"
        note="exiftool: $(value "$tags" Warning)"
        [ "$note" != "exiftool: " ] || fail "$1: exiftool sees no damage"
    fi
    [ "$(grep -c '^\[XMP-dc\] *Title ' <<<"$tags")" = 1 ] || fail "$1: not one XMP title"
    case $1 in
        *.jpg) local segments
               segments=$(count_app2_icc "$file")
               [ "$1" != odd/split_icc.jpg ] || [ "$segments" -ge 3 ] || fail "$1: $segments APP2 segments"
               [ -n "$note" ] || note="$segments APP2 ICC segment(s)" ;;
        *.png) note="chunks $(chunk_names "$file")" ;;
    esac
    local ignored through
    [ "$(to_srgb "$file" "$tmp/as_stored.png" "" "$orientation")" = "$width $height" ] ||
        fail "$1 is not upright when turned as its orientation $orientation says"
    ignored=$(mae_percent "$ref" "$tmp/as_stored.png")
    to_srgb "$file" "$tmp/through.png" "$tmp/found.icc" "$orientation" >/dev/null
    through=$(mae_percent "$ref" "$tmp/through.png")
    awk -v e="$through" 'BEGIN { exit !(e + 0 < 1.0) }' || fail "$1: $through % from the reference"
    if [ -n "$icc" ] && [ "$icc" != "$srgb_v2_icc" ]; then
        awk -v e="$ignored" 'BEGIN { exit !(e + 0 > 1.5) }' ||
            fail "$1: its pixels read as sRGB are only $ignored % off; -profile did not transform"
    fi
    printf '%-26s %-38s %-6s %-7s %-7s %s\n' "$1" "$(basename "${icc:-none}") $(wc -c <"$file") B" \
        "$orientation" "$ignored" "$through" "$note"
}
check_input adobe_rgb.jpg "$adobe_icc" 6 yes
check_input prophoto_rgb.png "$prophoto_icc" 6 yes
check_input wide_gamut_rgb.tif "$wide_icc" 6 yes
check_input adobe_rgb_lossless.webp "$adobe_icc" 6 yes
check_input odd/srgb.jpg "$srgb_v2_icc" 6 yes
check_input odd/raw_profile_exif.png "$compatible_icc" 6 yes
check_input odd/split_icc.jpg "$tmp/large.icc" 6 yes
check_input odd/damaged_exif.jpg "" 1 damaged
echo "(mean absolute error in % of full scale against the reference: 'ignored' reads the pixels"
echo " as sRGB, 'through' through the profile; both turned as the orientation says)"
