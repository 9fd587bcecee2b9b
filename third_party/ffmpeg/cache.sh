# The machine-wide cache of the source packages and their Windows build, shared by every
# clone. SUITE_CACHE_DIR moves it; by default it lies in the user's cache folder.
suite_cache_root() {
    echo "${SUITE_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/capture-suite}"
}
# The unpacked source of the newest fetched version of Debian source package $1, or nothing.
cached_source() {
    local d src=""
    for d in $(ls -d "$(suite_cache_root)/$1"/*/src 2>/dev/null | sort -V); do
        [ -f "$d/.complete" ] && src=$d
    done
    echo "$src"
}
