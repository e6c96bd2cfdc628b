#!/usr/bin/env bash
# Brings Debian 12's own libwebp source package (with Debian's patches, security fixes
# included, applied by dpkg-source) into <repo>/.deps/libwebp for the cross build.
# Run as root on Debian 12. A second call finds the tree in place and prints nothing.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
deps="$repo/.deps"
target="$deps/libwebp"
# Our own list, so that the system's debian.sources stays as it was.
src_list=/etc/apt/sources.list.d/vorandel-debian-src.sources

log() { printf '[fetch-libwebp] %s\n' "$*"; }
quiet() { # run a noisy step; show its output only when it fails
    local out
    if ! out=$("$@" 2>&1); then printf '%s\n' "$out" >&2; return 1; fi
}

[ -f "$target/CMakeLists.txt" ] && [ -f "$target/src/webp/encode.h" ] && exit 0

export DEBIAN_FRONTEND=noninteractive
updated=no
apt_update() {
    [ "$updated" = yes ] && return 0
    log "apt-get update"
    quiet apt-get update -q
    updated=yes
}

has_deb_src() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && grep -Eq '^[[:space:]]*deb-src[[:space:]]' "$f" && return 0
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && grep -Eiq '^[[:space:]]*Types:.*deb-src' "$f" && return 0
    done
    return 1
}

if ! has_deb_src; then
    log "enabling Debian's source lists ($src_list)"
    cat >"$src_list" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt_update
fi

if ! command -v dpkg-source >/dev/null; then
    log "installing dpkg-dev"
    if ! quiet apt-get install -y -q --no-install-recommends dpkg-dev; then
        apt_update
        quiet apt-get install -y -q --no-install-recommends dpkg-dev
    fi
fi

# Source lists present but never read (an earlier call stopped half-way): read them once.
if [ -z "$(apt-cache showsrc libwebp 2>/dev/null)" ]; then
    apt_update
fi

mkdir -p "$deps"
work="$(mktemp -d "$deps/.fetch-libwebp.XXXXXX")"
trap 'rm -rf "$work"' EXIT
log "apt-get source libwebp"
# _apt cannot write into root's folders; the download then runs as root, which is fine here.
(cd "$work" && quiet apt-get source -q libwebp)

unpacked=""
for d in "$work"/libwebp-*/; do
    [ -f "$d/CMakeLists.txt" ] && unpacked="${d%/}"
done
if [ -z "$unpacked" ]; then
    log "apt-get source gave no libwebp tree" >&2
    exit 1
fi

name="$(basename "$unpacked")"
rm -rf "${deps:?}/$name" "$target"
mv "$unpacked" "$deps/$name"
ln -s "$name" "$target"
log "libwebp source ready: $target -> $name"
