#!/usr/bin/env bash
# Brings Debian 12's own source packages of the libraries linked into the .exe (with Debian's
# patches, security fixes included, applied by dpkg-source) into <repo>/.deps/<name> for the
# cross build: libwebp, zlib and Little CMS 2.
# Run as root on Debian 12. A second call finds the trees in place and prints nothing.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
deps="$repo/.deps"
# Our own list, so that the system's debian.sources stays as it was.
src_list=/etc/apt/sources.list.d/vorandel-debian-src.sources

log() { printf '[fetch-sources] %s\n' "$*"; }
quiet() { # run a noisy step; show its output only when it fails
    local out
    if ! out=$("$@" 2>&1); then printf '%s\n' "$out" >&2; return 1; fi
}

# Source package, the name of its tree in .deps, and a file that only a complete tree has.
PACKAGES="libwebp:libwebp:src/webp/encode.h zlib:zlib:inflate.c lcms2:lcms2:src/cmsxform.c"
missing=""
for entry in $PACKAGES; do
    IFS=: read -r package name marker <<<"$entry"
    [ -f "$deps/$name/$marker" ] || missing="$missing $entry"
done
[ -z "$missing" ] && exit 0

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

# The machine's own Debian lines (one-line .list or deb822 .sources), as deb-src stanzas for
# the same servers, suites and components, so that a mirror or proxy in use stays in use.
# Only suites of this release are taken: another vendor's repository may offer no sources.
# One "uri<TAB>suite<TAB>components<TAB>keyring" line per binary package source.
deb_sources() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        # deb [options] uri suite component...
        awk '$1 == "deb" {
                 i = 2; opts = ""
                 if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) { opts = opts " " $i; i++ }
                                   opts = opts " " $i; i++ }
                 gsub(/^ \[|\]$/, "", opts); uri = $i; suite = $(i + 1); comps = ""
                 for (j = i + 2; j <= NF && $j !~ /^#/; j++) comps = comps " " $j
                 signed = ""
                 n = split(opts, o, " ")
                 for (k = 1; k <= n; k++) if (o[k] ~ /^signed-by=/) signed = substr(o[k], 11)
                 print uri "\t" suite "\t" substr(comps, 2) "\t" signed }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
        # Stanzas are separated by blank lines; fields are "Name: value".
        awk 'function flush() {
                 if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no")
                     { n = split(suites, s, " "); for (k = 1; k <= n; k++)
                           { m = split(uris, u, " "); for (j = 1; j <= m; j++)
                                 print u[j] "\t" s[k] "\t" comps "\t" signed } }
                 types = uris = suites = comps = signed = enabled = "" }
             /^[[:space:]]*#/ { next }
             /^[[:space:]]*$/ { flush(); next }
             { field = tolower($1); sub(/^[^:]*:[[:space:]]*/, "")
               if (field == "types:") types = $0; else if (field == "uris:") uris = $0
               else if (field == "suites:") suites = $0
               else if (field == "components:") comps = $0
               else if (field == "signed-by:") signed = $0
               else if (field == "enabled:") enabled = $0 }
             END { flush() }' "$f"
    done
}

derive_deb_src() {
    local codename
    codename="$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")"
    [ -n "$codename" ] || return 1
    deb_sources | awk -F'\t' -v codename="$codename" '
        ($2 == codename || index($2, codename "-") == 1) && !seen[$0]++ {
            print "Types: deb-src"; print "URIs: " $1; print "Suites: " $2
            print "Components: " $3; if ($4 != "") print "Signed-By: " $4; print "" }'
}

if ! has_deb_src; then
    stanzas="$(derive_deb_src || true)"
    if [ -z "$stanzas" ]; then
        log "no Debian package source of this release found in /etc/apt; add deb-src lines for it and run again" >&2
        exit 1
    fi
    log "enabling source packages from the machine's own apt servers ($src_list)"
    printf '%s\n' "$stanzas" >"$src_list"
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
work="$(mktemp -d "$deps/.fetch-sources.XXXXXX")"
trap 'rm -rf "$work"' EXIT
codename="$(. /etc/os-release && printf '%s' "${VERSION_CODENAME:-}")"
for entry in $missing; do
    IFS=: read -r package name marker <<<"$entry"
    mkdir "$work/$name"
    log "apt-get source $package"
    # _apt cannot write into root's folders; the download then runs as root, which is fine
    # here. A security update may be listed before its files reach the mirror: then the
    # release's own version serves.
    if ! (cd "$work/$name" && apt-get source -q "$package" >/dev/null 2>&1); then
        rm -rf "${work:?}/$name" && mkdir "$work/$name"
        log "apt-get source $package/$codename"
        (cd "$work/$name" && quiet apt-get source -q "$package/$codename")
    fi
    unpacked=""
    for d in "$work/$name"/"$package"-*/; do
        [ -f "$d/$marker" ] && unpacked="${d%/}"
    done
    if [ -z "$unpacked" ]; then
        log "apt-get source gave no $package tree" >&2
        exit 1
    fi
    tree="$(basename "$unpacked")"
    rm -rf "${deps:?}/$tree" "${deps:?}/$name"
    mv "$unpacked" "$deps/$tree"
    ln -s "$tree" "$deps/$name"
    log "$package source ready: $deps/$name -> $tree"
done
