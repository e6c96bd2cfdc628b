#!/usr/bin/env bash
# Frames and pages through the real program driven through its window: make_frames.sh's
# animations and multi-page TIFF converted into every format, one run per format, each output
# checked against the table below by readers of Vorandel's own: ImageMagick for frames, delays
# and each frame composed, webpmux for a WebP's frames, durations and loop count, and a GIF's
# loop extension read from its bytes.
#   frame_fidelity_test.sh <build folder>
# Prints a table of results; exits 1 when a row fails. Runs on a display (ctest under xvfb-run).
set -euo pipefail
build=$1
here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source-path=SCRIPTDIR
source "$here/photo_tools.sh"
command -v webpmux >/dev/null || { echo "FAIL: webpmux is missing (./dev.sh installs webp)" >&2; exit 1; }

# What must hold, per input and output format:
#   frames  how many frames (pages) the output holds
#   delays  each frame's delay in ms as a browser shows it;  -: not looked at
#   plays   how often the animation plays, 0 forever;  -: not looked at
#   alpha   yes: the first frame has transparent pixels;  no: it has none;  -: not looked at
#   on      each frame composed as ImageMagick shows it (-coalesce), over white (and black),
#           within 3 % mean absolute error of the input's frame of the same number and size
expectations='
# input     formats            frames  delays           plays  alpha  on
anim4.gif   GIF,WEBP           4       30,500,1000,70   0      no     white,black
anim4.gif   TIFF               4       -                -      no     white,black
anim4.gif   BMP,JPEG,PNG       1       -                -      no     white,black
anim3.gif   GIF,WEBP           3       100,200,100      3      no     white,black
anim3.gif   TIFF               3       -                -      no     white,black
anim3.gif   BMP,JPEG,PNG       1       -                -      no     white,black
anim.webp   WEBP               3       80,250,400       2      yes    white,black
anim.webp   GIF                3       80,250,400       2      yes    white
anim.webp   TIFF               3       -                -      yes    white,black
anim.webp   PNG                1       -                -      yes    white,black
anim.webp   BMP,JPEG           1       -                -      no     white
pages.tif   TIFF               3       -                -      no     white,black
pages.tif   BMP,GIF,JPEG,PNG,WEBP  1   -                -      no     white,black
'
formats=(BMP GIF JPEG PNG TIFF WEBP)

# Beside the build, as the photo test does: Wine's folder picker can miss a folder in /tmp.
work=$(mktemp -d "$(realpath "$build")/frame-fidelity.XXXXXX")
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
bash "$here/make_frames.sh" "$work/frames"

echo "== runs through the window"
for format in "${formats[@]}"; do
    convert_through_window "$build" "$work/frames" "$format" "$work/$format" "$work/$format.log"
done

# The frames of a file: their number, delays in ms and how often it plays, as its own format
# tells them.
frame_count() {
    case $1 in
        *.webp) webpmux -info "$1" | sed -n 's/^Number of frames: *//p' | grep . || echo 1 ;;
        *) "$im_identify" -format '%s\n' "$1" | wc -l ;;
    esac
}
delays() {
    case $1 in
        *.webp) webpmux -info "$1" | awk '$1 ~ /^[0-9]+:$/ { printf "%s%s", sep, $7; sep = "," }' ;;
        *.gif) "$im_identify" -format '%T\n' "$1" |
                   awk '{ d = $1 <= 1 ? 100 : $1 * 10; printf "%s%d", sep, d; sep = "," }' ;;
    esac
}
plays() {
    case $1 in
        *.webp) webpmux -info "$1" | sed -n 's/.*Loop Count *: *//p' ;;
        *.gif) python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
at = data.find(b"NETSCAPE2.0\x03\x01")
# Browsers play a GIF once more than its loop count says, and once without one.
n = data[at + 13] | data[at + 14] << 8 if at >= 0 else None
print(1 if n is None else 0 if n == 0 else n + 1)
PY
        ;;
    esac
}
# Each frame as a viewer shows it, over a background, as frame-N.png in a folder: a GIF's
# composed by ImageMagick, a TIFF's pages each alone, and a WebP's frames (which ImageMagick
# blends even where a frame says not to) composed here from webpmux's frames and their
# offsets, disposal and blending.
composed() { # <file> <background> <folder>
    mkdir -p "$3"
    local frames=("$1") canvas=$3/canvas.png
    case $1 in
        *.gif) frames=("$1" -coalesce) ;;
        *.webp)
            if webpmux -info "$1" | grep -q '^Number of frames'; then
                read -r width height < <(webpmux -info "$1" | sed -n 's/^Canvas size: \([0-9]*\) x \([0-9]*\)/\1 \2/p')
                "$im_convert" -size "${width}x$height" xc:none "PNG32:$canvas"
                local n=0 clear=()
                while read -r _ w h _ x y _ dispose blend _; do
                    n=$((n + 1))
                    webpmux -get frame "$n" "$1" -o "$3/raw.webp" >/dev/null 2>&1
                    local operator=Copy
                    [ "$blend" = yes ] && operator=Over
                    "$im_convert" "$canvas" "${clear[@]}" "$3/raw.webp" -geometry "+$x+$y" \
                        -compose "$operator" -composite "PNG32:$canvas"
                    cp "$canvas" "$3/full-$((n - 1)).png"
                    clear=()
                    [ "$dispose" = background ] &&
                        clear=(\( -size "${w}x$h" xc:none \) -geometry "+$x+$y" -compose Copy -composite)
                done < <(webpmux -info "$1" | awk '$1 ~ /^[0-9]+:$/')
                frames=()
                for ((i = 0; i < n; ++i)); do frames+=("$3/full-$i.png"); done
            fi
            ;;
    esac
    "$im_convert" -quiet "${frames[@]}" -background "$2" -alpha remove -alpha off \
        +adjoin "PNG24:$3/frame-%d.png"
}

failures=0
results=()
details=()
while read -r input format_list frames delays plays alpha on; do
    case $input in '' | '#'*) continue ;; esac
    for background in ${on//,/ }; do composed "$work/frames/$input" "$background" "$work/in/$input/$background"; done
    for format in ${format_list//,/ }; do
        output=$work/$format/${input%.*}.${format,,}
        problems=()
        frames_cell=- delays_cell=- plays_cell=- error_cell=-
        if [ ! -f "$output" ]; then
            problems+=("no output")
        else
            frames_cell=$(frame_count "$output")
            [ "$frames_cell" = "$frames" ] || problems+=("$frames_cell frames, expected $frames")
            if [ "$delays" != - ]; then
                delays_cell=$(delays "$output")
                [ "$delays_cell" = "$delays" ] || problems+=("delays $delays_cell ms, expected $delays")
            fi
            if [ "$plays" != - ]; then
                plays_cell=$(plays "$output")
                [ "$plays_cell" = "$plays" ] || problems+=("plays ${plays_cell:-?} times, expected $plays")
            fi
            if [ "$alpha" != - ]; then
                clear=$("$im_convert" -quiet "$output[0]" -format '%[fx:minima.a < 0.01 ? 1 : 0]' info:)
                [ "$alpha" = yes ] && [ "$clear" != 1 ] && problems+=("no transparent pixel")
                [ "$alpha" = no ] && [ "$clear" = 1 ] && problems+=("transparent pixels, where none belong")
            fi
            worst=0
            for background in ${on//,/ }; do
                out_frames=$work/out/$format/$input/$background
                composed "$output" "$background" "$out_frames"
                for ((i = 0; i < frames_cell && i < frames; ++i)); do
                    want=$work/in/$input/$background/frame-$i.png got=$out_frames/frame-$i.png
                    want_size=$("$im_identify" -format '%wx%h' "$want") got_size=$("$im_identify" -format '%wx%h' "$got")
                    if [ "$want_size" != "$got_size" ]; then
                        problems+=("frame $i is $got_size, the input's $want_size")
                        continue
                    fi
                    error=$(mae_percent "$want" "$got")
                    awk -v e="$error" -v w="$worst" 'BEGIN { exit !(e > w) }' && worst=$error
                    awk -v e="$error" 'BEGIN { exit !(e <= 3) }' ||
                        problems+=("frame $i on $background $error % from the input's")
                done
            done
            error_cell=$worst
        fi
        verdict=ok
        row_failed "$input ($format)" && verdict=FAIL
        results+=("$(printf '%-10s %-5s %-6s %-16s %-5s %-6s %s' "$input" "$format" "$frames_cell" \
            "$delays_cell" "$plays_cell" "$error_cell" "$verdict")")
    done
done <<<"$expectations"

print_failures
echo "== results (error: the largest mean absolute error of a composed frame against the input's, in %)"
printf '%-10s %-5s %-6s %-16s %-5s %-6s %s\n' input to frames delays plays error result
printf '%s\n' "${results[@]}"
echo "$failures of ${#results[@]} rows failed ($SECONDS s)"
[ "$failures" -eq 0 ]
