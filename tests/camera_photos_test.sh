#!/usr/bin/env bash
# What real cameras' photos know besides their pixels, through the real program driven through
# its window, checked from outside with exiftool: the corpus's camera photos and flower.jpg (and
# one made here with extended XMP, turned) converted into each format that carries EXIF, one run
# per format, each output compared with its input over one table.
#   camera_photos_test.sh <build folder> <corpus>
# Prints a table of results and the maker notes read as the input's per format; exits 1 when a
# row fails. Runs on a display (ctest under xvfb-run).
set -euo pipefail
build=$1 corpus=$2
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"

# What may differ between an input and its output, per format, in what exiftool reads of
# EXIF, XMP and maker notes ("group tag" patterns, extended regular expressions):
#   every format  the tags the program must change: orientation and pixel sizes;
#   turned input  the thumbnail (IFD1), which shows the picture as it was;
#   PNG, WEBP     (and TIFF) the pointer to the extended XMP, which joins the one packet;
#   TIFF          the file's own image directory in IFD0, no thumbnail, no entry without a
#                 value, and the maker note either read as the input's or left out whole;
#   a thumbnail that reaches past the EXIF (it does not end where its JPEG does) would be read
#   from what follows it, and is no longer linked.
# Positions in the file (ThumbnailOffset, PreviewImageStart) are compared as the images they
# point to: the EXIF thumbnail, and the maker note's preview.
must_change='^(EXIF:IFD0 (Orientation|ImageWidth|ImageHeight)|EXIF:ExifIFD (ExifImageWidth|ExifImageHeight)|XMP:XMP-tiff (Orientation|ImageWidth|ImageHeight)|XMP:XMP-exif (ExifImageWidth|ExifImageHeight)) '
expectations='
# format  also may change
JPEG      -
PNG       ^XMP:XMP-xmpNote HasExtendedXMP
WEBP      ^XMP:XMP-xmpNote HasExtendedXMP
TIFF      ^(XMP:XMP-xmpNote HasExtendedXMP|EXIF:IFD1 |EXIF:[^ ]+ [^ ]+ : $|EXIF:IFD0 (SubfileType|BitsPerSample|Compression|PhotometricInterpretation|StripOffsets|SamplesPerPixel|RowsPerStrip|StripByteCounts|PlanarConfiguration|YCbCr[A-Za-z]*|ReferenceBlackWhite|ExtraSamples|ResolutionUnit|XResolution|YResolution) )
'
positions='^(ThumbnailOffset|StripOffsets|PreviewImageStart|JpgFromRawStart|OtherImageStart)$'

# Its scan ends without an end marker: Wine's GDI+ refuses to decode it, Windows' may not.
undecodable='User Comment Encoding.jpg'

work=$(mktemp -d "$(realpath "$build")/camera-photos.XXXXXX")
trap 'rm -rf "$work"' EXIT
photos=$work/photos
mkdir -p "$photos"
cp "$corpus"/photos/*.jpg "$photos/"
# The corpus's own Canon photo, from which photo_fidelity's inputs are made.
cp "$corpus/jpeg/pillow/flower.jpg" "$photos/"
# Extended XMP as exiftool writes it once the XMP outgrows one JPEG segment, in a photo with a
# Canon maker note, turned so that its pixels and thumbnail are turned too.
seq 1 20000 | tr '\n' ' ' >"$work/long.txt"
exiftool -q -o "$photos/extended_xmp.jpg" '-XMP-dc:Description<='"$work/long.txt" \
    -XMP-dc:Title=extended -Orientation#=6 "$photos/Canon PowerShot S30.jpg"
grep -qa 'http://ns.adobe.com/xmp/extension/' "$photos/extended_xmp.jpg" ||
    { echo "FAIL: exiftool wrote no extended XMP" >&2; exit 1; }

echo "== runs through the window"
formats=()
while read -r format _; do
    case $format in '' | '#'*) continue ;; esac
    formats+=("$format")
    convert_through_window "$build" "$photos" "$format" "$work/$format" "$work/$format.log"
done <<<"$expectations"

# exiftool once over inputs and outputs: each file's listing ("[family 0:family 1] tag : value"),
# and the thumbnail and preview images it finds.
(cd "$work" && exiftool -q -r -a -G0:1 -s -n -w 'meta/%d%f.%e.tags' photos "${formats[@]}" &&
    exiftool -q -q -r -b -ThumbnailImage -w 'meta/%d%f.%e.thumbnail' photos "${formats[@]}" &&
    exiftool -q -q -r -b -MakerNotes:PreviewImage -w 'meta/%d%f.%e.preview' photos "${formats[@]}")
# What is compared of a listing: "group tag : value" of EXIF, XMP and maker notes, positions
# left out.
compared() {
    sed -n 's/^\[\(EXIF\|XMP\|MakerNotes\)\(:[^]]*\)\] *\([^ ]*\) *: /\1\2 \3 : /p' "$1" |
        awk -v positions="$positions" '$2 !~ positions' | sort
}
digest() { if [ -s "$1" ]; then md5sum <"$1" | cut -c1-32; else echo none; fi; }

failures=0
results=()
details=()
declare -A with_note read_same left_out
for input in "$photos"/*.jpg; do
    name=$(basename "$input")
    in_meta=$work/meta/photos/$name
    in_compared=$(compared "$in_meta.tags")
    in_notes=$(grep '^MakerNotes' <<<"$in_compared" || true)
    in_warnings=$(grep -a 'ExifTool\] *Warning ' "$in_meta.tags" | sed 's/^[^:]*: //' || true)
    orientation=$(awk '$1 == "[EXIF:IFD0]" && $2 == "Orientation" { print $4 }' "$in_meta.tags")
    thumbnail_whole=yes
    [ ! -s "$in_meta.thumbnail" ] || [ "$(tail -c 2 "$in_meta.thumbnail" | od -An -tx1 | tr -d ' ')" = ffd9 ] ||
        thumbnail_whole=no
    cells=()
    while read -r format also; do
        case $format in '' | '#'*) continue ;; esac
        relative=${name%.*}.${format,,}
        out_meta=$work/meta/$format/$relative
        problems=()
        if [ ! -f "$work/$format/$relative" ] && [ "$name" = "$undecodable" ]; then
            note_cell=none
        elif [ ! -f "$work/$format/$relative" ]; then
            problems+=("no output")
            note_cell=FAIL
        else
            out_compared=$(compared "$out_meta.tags")
            out_notes=$(grep '^MakerNotes' <<<"$out_compared" || true)
            allowed=$must_change
            [ "$also" = - ] || allowed="$allowed|$also"
            [ "${orientation:-1}" = 1 ] && [ "$thumbnail_whole" = yes ] || allowed="$allowed|^EXIF:IFD1 "
            note_cell=-
            if [ -n "$in_notes" ]; then
                with_note[$format]=$(( ${with_note[$format]:-0} + 1 ))
                if [ "$out_notes" = "$in_notes" ]; then
                    note_cell=same
                    read_same[$format]=$(( ${read_same[$format]:-0} + 1 ))
                elif [ "$format" = TIFF ] && [ -z "$out_notes" ]; then
                    note_cell=out
                    left_out[$format]=$(( ${left_out[$format]:-0} + 1 ))
                else
                    note_cell=FAIL
                    problems+=("maker note: $(comm -3 <(echo "$in_notes") <(echo "$out_notes") | wc -l) lines differ")
                fi
            fi
            [ "$format" = TIFF ] && allowed="$allowed|^MakerNotes"
            changed=$(comm -3 <(echo "$in_compared") <(echo "$out_compared") | sed 's/^\t//' |
                grep -Ev "$allowed" || true)
            [ -z "$changed" ] ||
                problems+=("changed: $(head -n 4 <<<"$changed" | cut -c1-90 | tr '\n' ';')")
            out_warnings=$(grep -a 'ExifTool\] *Warning ' "$out_meta.tags" | sed 's/^[^:]*: //' || true)
            new_warnings=$(comm -13 <(echo "$in_warnings" | sort) <(echo "$out_warnings" | sort) | grep . || true)
            [ -z "$new_warnings" ] || problems+=("new warning: $(tr '\n' ';' <<<"$new_warnings")")
            for image in thumbnail preview; do
                want=$(digest "$in_meta.$image") got=$(digest "$out_meta.$image")
                [ "$got" != "$want" ] || continue
                # The preview lies in the maker note; the thumbnail goes with a turn, a TIFF
                # holds none, and one that reaches past the EXIF goes.
                if [ "$got" = none ]; then
                    [ "$image" = preview ] && [ "$note_cell" = out ] && continue
                    [ "$image" = thumbnail ] && { [ "${orientation:-1}" != 1 ] || [ "$format" = TIFF ] ||
                        [ "$thumbnail_whole" = no ]; } && continue
                fi
                problems+=("the $image image is not the input's")
            done
            if [ "$format" = TIFF ] && ! "$im_identify" "$work/$format/$relative" >/dev/null 2>&1; then
                problems+=("libtiff (ImageMagick's identify) refuses the TIFF")
            fi
        fi
        verdict=$note_cell
        row_failed "$relative ($format)" && [ "$note_cell" != FAIL ] && verdict="$note_cell!"
        cells+=("$(printf '%-5s' "$verdict")")
    done <<<"$expectations"
    results+=("$(printf '%-66s %4s %s' "$name" "$(grep -c . <<<"$in_notes")" "${cells[*]}")")
done

print_failures
echo "== results (note: maker-note lines exiftool reads in the input; per format: same = maker note"
echo "   read as the input's, out = left out whole, - = none in the input, none = no output as the"
echo "   picture did not decode; FAIL = the maker note reads otherwise, ! = something else failed)"
printf '%-66s %4s %s\n' photo note "$(printf '%-5s ' "${formats[@]}")"
printf '%s\n' "${results[@]}"
for format in "${formats[@]}"; do
    echo "$format: maker notes read as the input's ${read_same[$format]:-0} of ${with_note[$format]:-0}, left out whole ${left_out[$format]:-0}"
done
rows=$(( ${#results[@]} * ${#formats[@]} ))
echo "$failures of $rows rows failed ($SECONDS s)"
[ "$failures" -eq 0 ]
