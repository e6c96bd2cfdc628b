#!/usr/bin/env bash
# Makes docs/screenshot.png: the real program, driven through its window, after a run over a
# few images of the test corpus, on a virtual display, in a Wine prefix of its own that is
# thrown away afterwards. Needs a build first (./dev.sh test).
#   scripts/screenshot.sh [build folder, default build/mingw]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/mingw}
driver=$build/tools/vorandel_drive.exe
corpus=${VORANDEL_CORPUS:-tests/corpus}
[ -f "$driver" ] || { echo "no $driver: build first" >&2; exit 1; }
[ -d "$corpus" ] || { echo "no image corpus at $corpus (set VORANDEL_CORPUS)" >&2; exit 1; }

work=$(mktemp -d)
export WINEPREFIX=$work/prefix
trap 'rm -rf "$work"' EXIT
windows_path() { printf 'Z:%s' "$(realpath "$1" | sed 's#/#\\#g')"; }

scripts/prepare-wine
# In the prefix's drive C:, where a Windows user's folder would be.
demo=$WINEPREFIX/drive_c/照片
mkdir -p "$demo/旅行/2023" "$demo/scans"
cp "$corpus/jpeg/pillow/flower.jpg" "$corpus/png/pillow/hopper.png" "$corpus/gif/pillow/hopper.gif" "$demo/"
cp "$corpus/jpeg/libjpeg-turbo/testorig.jpg" "$corpus/tiff/libtiff/palette-1c-8b.tiff" "$demo/旅行/"
cp "$corpus/ico/pillow/python.ico" "$corpus/names/UPPER.PNG" "$demo/旅行/2023/"
cp "$corpus/bmp/bmpsuite/g/pal8.bmp" "$corpus/bmp/bmpsuite/b/shortfile.bmp" "$demo/scans/"

mkdir -p docs
out=$(pwd)/docs/screenshot.png
rm -f "$out"
xvfb-run -a -s "-screen 0 1024x768x24" scripts/on-virtual-display "$driver" \
    "$(windows_path "$build/ui/Vorandel.exe")" 'C:\照片' --format WEBP --quality 80 \
    --picture "$(windows_path docs)\\screenshot.png" >/dev/null
[ -f "$out" ] || { echo "no picture was taken" >&2; exit 1; }
echo "wrote docs/screenshot.png"
