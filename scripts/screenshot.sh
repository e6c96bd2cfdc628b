#!/usr/bin/env bash
# Makes docs/screenshot.png: the real program after a run over a few images of the shared
# corpus, on a virtual display, in a Wine prefix of its own that is thrown away afterwards.
# Needs a build first (./dev.sh test).
#   scripts/screenshot.sh [build folder, default build/mingw]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/mingw}
driver=$build/tests/vorandel_run_driver.exe
corpus=${VORANDEL_CORPUS:-../shared/corpus}
[ -f "$driver" ] || { echo "no $driver: build first" >&2; exit 1; }
[ -d "$corpus" ] || { echo "no image corpus at $corpus (set VORANDEL_CORPUS)" >&2; exit 1; }

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'rm -rf "$work"' EXIT
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

demo=$work/照片
mkdir -p "$demo/旅行/2023" "$demo/scans"
cp "$corpus/jpeg/pillow/flower.jpg" "$corpus/png/pillow/hopper.png" "$corpus/gif/pillow/hopper.gif" "$demo/"
cp "$corpus/jpeg/libjpeg-turbo/testorig.jpg" "$corpus/tiff/libtiff/palette-1c-8b.tiff" "$demo/旅行/"
cp "$corpus/ico/pillow/python.ico" "$corpus/names/UPPER.PNG" "$demo/旅行/2023/"
cp "$corpus/bmp/bmpsuite/g/pal8.bmp" "$corpus/bmp/bmpsuite/b/shortfile.bmp" "$demo/scans/"

scripts/prepare-wine
# Without a window manager Wine draws the caption itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
# The next Wine process must start its own display driver inside the virtual display.
wineserver -w

mkdir -p docs
out=$(pwd)/docs/screenshot.png
rm -f "$out"
# Wine's own processes end before the virtual display does.
xvfb-run -a -s "-screen 0 1024x768x24" sh -c 'wine "$@"; wineserver -k' sh \
    "$driver" show "$(windows_path "$demo")" "$(windows_path "$out")"
[ -f "$out" ] || { echo "no picture was taken" >&2; exit 1; }
echo "wrote docs/screenshot.png"
