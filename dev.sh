#!/usr/bin/env bash
# Vorandel's one entry for developers on Debian 12 (run as root):
#   ./dev.sh run    install what is missing, build, and open the program; without a display,
#                   run it on a virtual one over a sample folder and show what it did
#   ./dev.sh test   install what is missing, build, and run every test
#   ./dev.sh dist   install what is missing, build, and make the release archive in dist/
# A second call is quick: nothing is installed or configured twice.
set -euo pipefail
cd "$(dirname "$0")"

log() { printf '[vorandel] %s\n' "$*"; }
quiet() { # run a noisy step; show its output only when it fails
    local out
    if ! out=$("$@" 2>&1); then printf '%s\n' "$out" >&2; return 1; fi
}

PACKAGES=(cmake make g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth googletest
          fonts-wqy-microhei fonts-dejavu-core dpkg-dev zip unzip imagemagick gnuplot-nox python3 zzuf
          libimage-exiftool-perl webp icc-profiles-free colord-data)

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    quiet apt-get update -q
    quiet apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build_dir=build/mingw
configure() {
    # The makefiles exist only after a configure that finished; later changes reconfigure
    # from within the build. A cache left by a configure that failed or was interrupted may
    # hold what that one could not find, so it goes.
    [ -f "$build_dir/Makefile" ] && return 0
    log "configuring"
    rm -rf "$build_dir/CMakeCache.txt" "$build_dir/CMakeFiles"
    quiet cmake --preset mingw
}

build() {
    configure
    local out
    if ! out=$(cmake --build --preset mingw "$@" 2>&1); then printf '%s\n' "$out" >&2; return 1; fi
    # Progress lines are noise; warnings are not.
    printf '%s\n' "$out" | grep -E -i 'warning' || true
}

export WINEPREFIX="${WINEPREFIX:-$HOME/.vorandel/wine}"
setup() {
    install_packages
    scripts/fetch-sources.sh
    scripts/prepare-wine
    build
    # Wine's server outlives its programs for a moment; the next ones must start their own,
    # on the display they are given.
    wineserver -w
}

windows_path() { printf 'Z:%s' "$(realpath "$1" | sed 's#/#\\#g')"; }

# The real program on a virtual display over a generated folder: its log as the window
# shows it, a picture of the window, and the converted files.
run_without_display() {
    local demo exe=$build_dir/ui/Vorandel.exe
    demo="$(pwd)/build/first-run"
    rm -rf "$demo"
    scripts/sample-folder "$demo/样例"
    log "no display: running Vorandel on a virtual one over $demo/样例 (PNG, quality 90)"
    # The picker's look at drive Z: makes Wine complain once about the volume label.
    xvfb-run -a -s "-screen 0 1024x768x24" scripts/on-virtual-display \
        "$build_dir/tools/vorandel_drive.exe" "$(windows_path "$exe")" "$(windows_path "$demo/样例")" \
        --format PNG --picture "$(windows_path "$demo")\\window.png" \
        2> >(grep -v 'FS volume label and serial are not available' >&2)
    log "picture of the window: $demo/window.png"
    log "converted files: $demo/样例/converted_images"
}

case "${1:-}" in
    run)
        setup
        if [ -z "${DISPLAY:-}" ]; then
            run_without_display
            exit 0
        fi
        exec scripts/wine-run "$build_dir/ui/Vorandel.exe"
        ;;
    test)
        setup
        # The window tests need a display; a virtual one serves for all of them.
        xvfb-run -a ctest --preset mingw
        ;;
    bench)
        setup
        # The benchmark opens the real window; a virtual display serves.
        xvfb-run -a python3 bench/bench.py
        ;;
    dist)
        setup
        build --target dist
        log "release archive: $(ls -t dist/vorandel-*-win64.zip | head -n 1)"
        ;;
    *)
        echo "usage: $0 run|test|bench|dist" >&2
        exit 2
        ;;
esac
