#!/usr/bin/env bash
# Fetches the sources of Debian 12's ffmpeg and lame packages into the machine's cache,
# once per version. Every clone on the machine shares them; build.sh cross-compiles them.
#
# Needs root (or sudo) only the first time, to add the deb-src entries.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=cache.sh
. "$here/cache.sh"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# deb-src entries for the same archives and suites as the machine's deb entries, in a
# file of our own (the machine's own entries are left as they are).
src_list=/etc/apt/sources.list.d/suite-ffmpeg-src.sources
if ! apt-cache showsrc --only-source lame 2>/dev/null | grep -q '^Version:'; then
    entries=""
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
        # Keep the Debian archive stanzas that offer binaries; the same stanza as
        # deb-src gives their sources.
        entries+=$(awk -v RS= -v ORS='\n\n' \
            '/(^|\n)Types:[^\n]*deb([ \n]|$)/ && /deb\.debian\.org|security\.debian\.org|snapshot\.debian\.org/ && !/(^|\n)Enabled: *no/' "$f" |
            sed -e 's/^Types:.*/Types: deb-src/')$'\n\n'
    done
    if [ -f /etc/apt/sources.list ]; then
        while read -r kind rest; do
            [ "$kind" = deb ] || continue
            uri=$(awk '{for (i = 1; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' <<<"$rest")
            suite_and_components=${rest#*"$uri" }
            entries+="Types: deb-src"$'\n'"URIs: $uri"$'\n'"Suites: ${suite_and_components%% *}"$'\n'
            entries+="Components: ${suite_and_components#* }"$'\n\n'
        done < <(grep -E '^deb .*debian\.org' /etc/apt/sources.list || true)
    fi
    [ -n "${entries//[[:space:]]/}" ] || { echo "fetch.sh: no Debian deb entries found to mirror as deb-src" >&2; exit 1; }
    printf '%s' "$entries" | $sudo tee "$src_list" >/dev/null
    $sudo apt-get update -qq
fi

# fetch PACKAGE VERSION-PATTERN: the package's source, unpacked once per version into
# the cache (unpacked beside and moved into place, so a fetch cut short leaves nothing).
fetch() {
    local package=$1 pattern=$2 version dir tmp unpacked
    version=$(apt-cache showsrc --only-source "$package" | awk '/^Version:/ {print $2}' | sort -V | tail -1)
    [ -n "$version" ] || { echo "fetch.sh: apt offers no $package source package" >&2; exit 1; }
    # shellcheck disable=SC2053
    [[ "$version" == $pattern ]] || { echo "fetch.sh: $package source $version is not $pattern" >&2; exit 1; }
    dir="$(suite_cache_root)/$package/${version#*:}"
    [ -f "$dir/src/.complete" ] && return 0
    mkdir -p "$dir"
    tmp=$(mktemp -d "$dir/fetch.XXXXXX")
    chmod 755 "$tmp"  # apt downloads as its own user
    (cd "$tmp" && apt-get source -qq "$package=$version" >/dev/null)
    unpacked=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -1)
    if [ ! -f "$unpacked/configure" ]; then
        rm -rf "$tmp"
        echo "fetch.sh: the $package source did not unpack" >&2
        exit 1
    fi
    rm -rf "$dir/src"
    mv "$unpacked" "$dir/src"
    rm -rf "$tmp"
    echo "$version" >"$dir/src/.complete"
}

# FFmpeg 5.1, and LAME for its MPEG Layer-3 encoder (FFmpeg has none of its own).
fetch ffmpeg '*:5.1.*'
fetch lame '3.100*'
