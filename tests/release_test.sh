#!/usr/bin/env bash
# The release as a Windows user gets it: makes the archive as `./dev.sh dist` does, checks what
# it holds and that its .exe needs no DLL beyond those of Windows itself, unpacks it into a
# fresh Wine prefix with nothing else in it, and converts a folder through the program's window.
#   release_test.sh <build folder> <archive> <objdump> <corpus>
# Runs on a display (ctest under xvfb-run).
set -euo pipefail
build=$1 archive=$2 objdump=$3 corpus=$4
here="$(cd "$(dirname "$0")" && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --build "$build" --target dist >/dev/null
[ -f "$archive" ] || fail "no $archive"
name=$(basename "$archive" .zip)

# Beside the build, not in a shared /tmp: the folder picker lists every folder on the way, and
# Wine's listing of one whose entries come and go meanwhile can miss the one it needs.
work=$(mktemp -d "$(realpath "$build")/release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
unzip -q "$archive" -d "$work"
root=$work/$name
expected="CHANGELOG.md
LICENSE
README.md
README.zh-CN.md
Vorandel.exe
docs/screenshot.png
licenses/gcc-runtime-libraries.txt
licenses/lcms2-COPYING.txt
licenses/libwebp-COPYING.txt
licenses/libwebp-PATENTS.txt
licenses/mingw-w64-runtime.txt
licenses/zlib-LICENSE.txt"
actual=$(cd "$root" && find . -type f | sed 's#^\./##' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "the archive holds"$'\n'"$actual"$'\n'"instead of"$'\n'"$expected"
[ "$(ls "$work")" = "$name" ] || fail "the archive holds more than the folder $name"

# DLLs every 64-bit Windows 10/11 has; nothing of the toolchain or of the linked libraries.
allowed='^(kernel32|user32|gdi32|gdiplus|comctl32|comdlg32|ole32|oleaut32|shell32|shlwapi|advapi32|bcrypt|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$("$objdump" -p "$root/Vorandel.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || fail "objdump found no imports"
while read -r dll; do
    printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed" || fail "Vorandel.exe imports $dll"
done <<<"$imports"
echo "imports: $(echo $imports)"
# A program without a manifest gets comctl32 5.82, which on some architectures (ARM64) does not
# give every function it has by name: only those it exports by name everywhere may be imported.
comctl32_allowed='^(InitCommonControlsEx|InitCommonControls)$'
comctl32=$("$objdump" -p "$root/Vorandel.exe" |
    awk 'tolower($0) ~ /dll name: comctl32\.dll/ {on = 1; next} /^[[:space:]]*$/ {on = 0}
         on && $1 ~ /^[0-9a-f]+$/ {print (NF >= 3 ? $3 : "ordinal-" $2)}')
[ -n "$comctl32" ] || fail "objdump found no comctl32 imports"
while read -r function; do
    printf '%s\n' "$function" | grep -Eq "$comctl32_allowed" ||
        fail "Vorandel.exe imports $function from comctl32, which 5.82 does not export everywhere"
done <<<"$comctl32"
echo "from comctl32: $(echo $comctl32)"
# The program carries no resources at all.
if "$objdump" -h "$root/Vorandel.exe" | grep -q '\.rsrc'; then fail "Vorandel.exe has a resource section"; fi

# A folder as a user would have it: a name in Chinese, a subfolder, four kinds of input.
photos=$work/照片
mkdir -p "$photos/旅行"
cp "$corpus/jpeg/pillow/flower.jpg" "$corpus/png/pillow/hopper.png" "$photos/"
cp "$corpus/gif/pillow/hopper.gif" "$corpus/webp/image-webp/1.webp" "$photos/旅行/"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

export WINEPREFIX=$work/prefix
started=$(date +%s)
"$here/../scripts/wine-run" wineboot --init >/dev/null 2>&1 || fail "a fresh Wine prefix does not start"
echo "fresh prefix: $(( $(date +%s) - started )) s"
out=$work/log.txt
started=$(date +%s)
if ! "$here/../scripts/wine-run" "$build/tools/vorandel_drive.exe" "$(windows_path "$root/Vorandel.exe")" \
        "$(windows_path "$photos")" --format WEBP --quality 80 --timeout 120 >"$out"; then
    cat "$out"
    fail "the run through the window did not complete"
fi
wineserver -w
echo "run through the window: $(( $(date +%s) - started )) s"
cat "$out"

grep -qxF "已选择目录: $(windows_path "$photos")" "$out" || fail "no folder choice in the log"
grep -qxF '目标格式: WEBP' "$out" || fail "the run did not take WEBP"
grep -qxF '质量设置: 80%' "$out" || fail "the run did not take the quality 80"
grep -qxF '转换完成! 成功: 4/4' "$out" || fail "not every file was converted"
for f in flower hopper 旅行/hopper 旅行/1; do
    o=$photos/converted_images/$f.webp
    [ -f "$o" ] || fail "no $o"
    [ "$(head -c 4 "$o")" = RIFF ] && [ "$(tail -c +9 "$o" | head -c 4)" = WEBP ] || fail "$o is no WebP file"
done
echo "ok"
