# shellcheck shell=bash
# Shared by make_photos.sh and the photo, frame and picture tests (sourced): the independent readers,
# ImageMagick for pixels and exiftool for what a file says about them.

# /usr/local/bin/convert may be a stand-in that passes calls on; the real ImageMagick is
# called by its own name so that -profile surely transforms.
im_convert=$(command -v convert-im6.q16 || echo /usr/bin/convert)
im_compare=$(command -v compare-im6.q16 || echo /usr/bin/compare)
im_identify=$(command -v identify-im6.q16 || echo /usr/bin/identify)
for tool in "$im_convert" "$im_compare" "$im_identify" exiftool; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (./dev.sh installs it)" >&2; exit 1; }
done

# A profile shipped by icc-profiles-free or colord-data, by the end of its path.
profile_path() {
    local listing
    listing=$(dpkg -L icc-profiles-free colord-data 2>/dev/null || true)
    grep -m1 "/$1\$" <<<"$listing" ||
        { echo "FAIL: no $1 (./dev.sh installs icc-profiles-free and colord-data)" >&2; return 1; }
}
srgb_icc=$(profile_path colord/sRGB.icc)

# ImageMagick's operator that shows a picture as a viewer honouring EXIF orientation does.
orientation_operator() {
    case "$1" in
        2) echo -flop ;; 3) echo "-rotate 180" ;; 4) echo -flip ;; 5) echo -transpose ;;
        6) echo "-rotate 90" ;; 7) echo -transverse ;; 8) echo "-rotate 270" ;; *) echo ;;
    esac
}

# file's first picture in sRGB as an 8-bit PNG, through the ICC profile in icc (empty: taken as
# sRGB), turned as orientation (1..8, default 1) says; prints its width and height.
to_srgb() { # <file> <out> <icc file> [orientation]
    local profile=()
    [ -s "$3" ] && profile=(-profile "$3" -profile "$srgb_icc")
    # shellcheck disable=SC2046 # the operator is one or two words
    "$im_convert" -quiet "$1[0]" -strip "${profile[@]}" $(orientation_operator "${4:-1}") \
        -alpha off -depth 8 -write "PNG24:$2" -format '%w %h\n' info:
}

# Mean absolute error of picture b against a, of the same size, in percent of full scale.
mae_percent() {
    # compare's exit status says whether the pictures differ at all.
    { "$im_compare" -metric MAE "$1" "$2" null: 2>&1 || true; } |
        sed -n 's/.*(\([0-9.e+-]*\)).*/\1/p' | awk '{ printf "%.2f\n", $1 * 100 }'
}

# exiftool's listing of a file, one "[group] tag : value" a line, numbers as stored.
listing() { exiftool -a -G1 -s -n "$1"; }
# A tag's first value in a listing; composite tags are exiftool's own inventions.
value() { awk -v tag="$2" '$1 != "[Composite]" && $2 == tag { sub(/^[^:]*: /, ""); print; exit }' <<<"$1"; }

# Converts folder into format through the real program's window (vorandel_drive below build)
# and moves the outputs to dest, out of the folder, or the next run would take them for
# inputs; prints the log's end line and the time taken. Exits 1 when the run does not complete.
convert_through_window() { # <build> <folder> <format> <dest> <log>
    local started windows_path here
    started=$(date +%s)
    here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
    windows_path() { printf 'Z:%s' "$(realpath "$1" | sed 's#/#\\#g')"; }
    if ! "$here/../scripts/wine-run" "$1/tools/vorandel_drive.exe" \
            "$(windows_path "$1/ui/Vorandel.exe")" "$(windows_path "$2")" \
            --format "$3" --quality 95 --timeout 300 >"$5" 2>&1 ||
            [ ! -d "$2/converted_images" ]; then
        cat "$5"
        echo "FAIL: the run to $3 did not complete" >&2
        exit 1
    fi
    mv "$2/converted_images" "$4"
    echo "$3: $(grep -a '转换完成' "$5" || echo 'no end line in the log'), $(( $(date +%s) - started )) s"
}

# Counts a row (labelled $1) as failed and keeps why in details when problems holds anything;
# false when it holds nothing.
row_failed() {
    # shellcheck disable=SC2154 # problems is the caller's
    [ ${#problems[@]} -gt 0 ] || return 1
    failures=$((failures + 1))
    details+=("$1: $(printf '%s; ' "${problems[@]}")")
}
print_failures() {
    echo "== failures"
    for line in "${details[@]}"; do echo "FAIL $line"; done
}
