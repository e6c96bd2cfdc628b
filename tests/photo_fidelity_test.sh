#!/usr/bin/env bash
# What a photo knows besides its pixels, through the real program driven through its window,
# checked from outside with exiftool and ImageMagick: make_photos.sh's inputs converted into
# every format, one run per format, each output checked against the table below.
#   photo_fidelity_test.sh <build folder> <corpus>
# Prints the measured error of every output and a table of results; exits 1 when a row fails.
# Runs on a display (ctest under xvfb-run).
set -euo pipefail
build=$1 corpus=$2
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"

# What must hold, per input and output format:
#   icc   same: the input's profile byte for byte, once;  none: no profile
#   exif  same: DateTimeOriginal, Make, Model and GPS as in the input, Orientation 1 or none,
#               ExifImageWidth/Height (if any) the output's size, no thumbnail where the input
#               was turned, once;
#         none: no EXIF at all;  -: not looked at (the container holds none)
#   xmp   same: the input's dc:title, once;  -: not looked at
# Every output is upright (the reference's size) and, in sRGB through its own profile (as sRGB
# without one), within 1.2 % mean absolute error of the reference; for GIF's palette 3 %, and
# 1.2 % with both blurred.
expectations='
# input                     formats             icc   exif  xmp
adobe_rgb.jpg               JPEG,PNG,TIFF,WEBP  same  same  same
adobe_rgb.jpg               BMP,GIF             none  -     -
prophoto_rgb.png            JPEG,PNG,TIFF,WEBP  same  same  same
prophoto_rgb.png            BMP,GIF             none  -     -
wide_gamut_rgb.tif          JPEG,PNG,TIFF,WEBP  same  same  same
wide_gamut_rgb.tif          BMP,GIF             none  -     -
adobe_rgb_lossless.webp     JPEG,PNG,TIFF,WEBP  same  same  same
adobe_rgb_lossless.webp     BMP,GIF             none  -     -
odd/srgb.jpg                JPEG,PNG,TIFF,WEBP  same  same  same
odd/srgb.jpg                BMP,GIF             none  -     -
odd/raw_profile_exif.png    JPEG,PNG,TIFF,WEBP  same  same  same
odd/raw_profile_exif.png    BMP,GIF             none  -     -
odd/split_icc.jpg           JPEG,PNG,TIFF,WEBP  same  same  same
odd/split_icc.jpg           BMP,GIF             none  -     -
odd/damaged_exif.jpg        JPEG,PNG,TIFF,WEBP  none  none  same
odd/damaged_exif.jpg        BMP,GIF             none  -     -
'
formats=(BMP GIF JPEG PNG TIFF WEBP)

# The folder picker lists every folder on the way to the photos, and Wine's listing of a
# folder whose entries come and go meanwhile (a shared /tmp) can miss the one it needs: the
# build folder is still while the tests run.
work=$(mktemp -d "$(realpath "$build")/photo-fidelity.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "== inputs (make_photos.sh)"
bash "$here/make_photos.sh" "$corpus" "$work"
photos=$work/photos ref=$work/reference.png
read -r ref_width ref_height < <("$im_convert" "$ref" -format '%w %h\n' info:)

echo "== runs through the window"
for format in "${formats[@]}"; do
    convert_through_window "$build" "$photos" "$format" "$work/$format" "$work/$format.log"
done

# exiftool once over inputs and outputs: for each file, at its path below meta/, its listing
# and its ICC profile as exiftool extracts it.
(cd "$work" && exiftool -q -r -a -G1 -s -n -w 'meta/%d%f.%e.tags' photos "${formats[@]}" &&
    exiftool -q -q -r -b -ICC_Profile -w 'meta/%d%f.%e.icc' photos "${formats[@]}")
count() { grep -c -E "$2" <<<"$1" || true; }
limit_holds() { awk -v e="$1" -v l="$2" 'BEGIN { exit !(e != "" && e + 0 <= l) }'; }
carried_tags="DateTimeOriginal Make Model GPSLatitude GPSLatitudeRef GPSLongitude GPSLongitudeRef"
# GIF's palette and dithering add noise that a lost colour conversion can hide in; blurred by
# 1.5 pixels, the noise is gone and a shift of colour is not.
"$im_convert" "$ref" -blur 0x1.5 "$work/reference_blurred.png"

failures=0
results=()
details=()
while read -r input format_list icc exif xmp; do
    case $input in '' | '#'*) continue ;; esac
    in_tags=$(cat "$work/meta/photos/$input.tags")
    in_icc=$work/meta/photos/$input.icc
    for format in ${format_list//,/ }; do
        extension=${format,,}
        relative=${input%.*}.$extension
        output=$work/$format/$relative
        problems=()
        icc_cell=- exif_cell=- xmp_cell=- size_cell=- error_cell=- blurred_cell=-
        if [ ! -f "$output" ]; then
            problems+=("no output")
            icc_cell=FAIL exif_cell=FAIL xmp_cell=FAIL
        else
            out_tags=$(cat "$work/meta/$format/$relative.tags")
            out_icc=$work/meta/$format/$relative.icc
            [ -f "$out_icc" ] || : >"$out_icc"
            warnings=$(grep '^\[ExifTool\] *Warning ' <<<"$out_tags" | sed 's/^[^:]*: //' | tr '\n' ';' || true)
            [ -z "$warnings" ] || problems+=("exiftool warns: $warnings")

            icc_problems=()
            icc_count=$(count "$out_tags" '^\[ICC-header\] +ProfileFileSignature ')
            if [ "$icc" = same ]; then
                if [ "$icc_count" = 0 ]; then
                    icc_problems+=("no ICC profile")
                else
                    [ "$icc_count" = 1 ] || icc_problems+=("$icc_count ICC profiles instead of 1")
                    cmp -s "$in_icc" "$out_icc" ||
                        icc_problems+=("ICC profile of $(wc -c <"$out_icc") bytes is not the input's $(wc -c <"$in_icc")")
                fi
                ! grep -qi 'ICC' <<<"$warnings" || icc_problems+=("exiftool finds extra ICC pieces")
            else
                [ "$icc_count" = 0 ] || icc_problems+=("an ICC profile, where none belongs")
            fi
            icc_cell=ok
            [ ${#icc_problems[@]} -eq 0 ] || { icc_cell=FAIL; problems+=("${icc_problems[@]}"); }

            read -r width height < <(to_srgb "$output" "$work/out.png" "$out_icc")
            size_cell=${width}x$height
            exif_problems=()
            if [ "$exif" = same ]; then
                blocks=$(count "$out_tags" '^\[IFD0\] +Make ')
                if [ "$blocks" = 0 ] && [ -z "$(value "$out_tags" DateTimeOriginal)" ]; then
                    exif_problems+=("no EXIF")
                else
                    [ "$blocks" = 1 ] || exif_problems+=("$blocks EXIF blocks (IFD0 Make) instead of 1")
                    for tag in $carried_tags; do
                        want=$(value "$in_tags" "$tag") got=$(value "$out_tags" "$tag")
                        [ "$got" = "$want" ] || exif_problems+=("EXIF $tag '${got:-(none)}', expected '$want'")
                    done
                    orientation=$(value "$out_tags" Orientation)
                    [ "${orientation:-1}" = 1 ] || exif_problems+=("Orientation $orientation, expected 1 or none")
                    for pair in "ExifImageWidth:$width" "ExifImageHeight:$height"; do
                        tag=${pair%:*} got=$(value "$out_tags" "${pair%:*}")
                        [ -z "$got" ] || [ "$got" = "${pair#*:}" ] ||
                            exif_problems+=("$tag $got, the output's is ${pair#*:}")
                    done
                    # The thumbnail shows the picture as it was: it goes when the picture is turned.
                    in_orientation=$(value "$in_tags" Orientation)
                    [ "${in_orientation:-1}" = 1 ] || [ "$(count "$out_tags" '^\[IFD1\]')" = 0 ] ||
                        exif_problems+=("the EXIF thumbnail (IFD1) is kept, though the picture was turned")
                fi
            elif [ "$exif" = none ]; then
                # A TIFF's own directory is not EXIF; what only EXIF holds is.
                found=$(grep -E '^\[(ExifIFD|GPS|IFD1|InteropIFD)\]|^\[IFD0\] +(Make|Model|ModifyDate) ' <<<"$out_tags" || true)
                [ "$format" = TIFF ] || found+=$(grep -E '^\[File\] +ExifByteOrder ' <<<"$out_tags" || true)
                [ -z "$found" ] || exif_problems+=("EXIF kept, where none belongs: $(head -n 2 <<<"$found" | tr -s ' ' | tr '\n' ';')")
            fi
            if [ "$exif" != - ]; then
                exif_cell=ok
                [ ${#exif_problems[@]} -eq 0 ] || { exif_cell=FAIL; problems+=("${exif_problems[@]}"); }
            fi

            if [ "$xmp" = same ]; then
                xmp_cell=ok
                titles=$(count "$out_tags" '^\[XMP-dc\] +Title ')
                want=$(value "$in_tags" Title) got=$(value "$out_tags" Title)
                if [ "$titles" = 0 ]; then
                    xmp_cell=FAIL
                    problems+=("no XMP dc:title")
                else
                    [ "$titles" = 1 ] || { xmp_cell=FAIL; problems+=("$titles XMP dc:titles instead of 1"); }
                    [ "$got" = "$want" ] || { xmp_cell=FAIL; problems+=("XMP dc:title '$got', expected '$want'"); }
                fi
            fi

            if [ "$width $height" != "$ref_width $ref_height" ]; then
                problems+=("not upright: ${width}x$height, the reference is ${ref_width}x$ref_height")
            else
                limit=1.2
                [ "$format" = GIF ] && limit=3
                error=$(mae_percent "$ref" "$work/out.png")
                error_cell="$error/$limit"
                limit_holds "$error" "$limit" || problems+=("colours $error % from the reference, more than $limit %")
                if [ "$format" = GIF ]; then
                    "$im_convert" "$work/out.png" -blur 0x1.5 "$work/out_blurred.png"
                    blurred=$(mae_percent "$work/reference_blurred.png" "$work/out_blurred.png")
                    blurred_cell="$blurred/1.2"
                    limit_holds "$blurred" 1.2 ||
                        problems+=("colours $blurred % from the reference when both are blurred, more than 1.2 %")
                fi
            fi
        fi
        verdict=ok
        row_failed "$relative ($format)" && verdict=FAIL
        results+=("$(printf '%-25s %-5s %-8s %-9s %-9s %-5s %-5s %-5s %s' "$input" "$format" "$size_cell" \
            "$error_cell" "$blurred_cell" "$icc_cell" "$exif_cell" "$xmp_cell" "$verdict")")
    done
done <<<"$expectations"

print_failures
echo "== results (error: mean absolute error against the reference in %/its limit; blurred: the same"
echo "   of both blurred by 1.5 pixels, for GIF)"
printf '%-25s %-5s %-8s %-9s %-9s %-5s %-5s %-5s %s\n' input to size error blurred icc exif xmp result
printf '%s\n' "${results[@]}"
echo "$failures of ${#results[@]} rows failed ($SECONDS s)"
[ "$failures" -eq 0 ]
