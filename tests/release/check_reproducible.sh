#!/usr/bin/env bash
# Makes the release twice with scripts/release.sh, each time from a fresh copy of
# the tree at a different absolute path, with a pause between the two, and fails
# unless both zips, and so both kelvor.exe, are byte for byte the same. On a
# difference it shows where the exes differ.
# Usage: check_reproducible.sh <source dir>
set -euo pipefail

source_dir=$(cd "${1:?source dir}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

release_copy() {
    local tree=$1
    mkdir -p "$tree"
    # What the release is built and packed from, and the exe check it runs.
    cp -R "$source_dir"/{CMakeLists.txt,CMakePresets.json,README.md,LICENSE,cmake,scripts,src,tests} \
        "$tree/"
    KELVOR_BUILD_DIR=$tree/build KELVOR_DIST_DIR=$tree/dist bash "$tree/scripts/release.sh" \
        > "$tree.log" 2>&1 || {
        echo "release in $tree failed:" >&2
        cat "$tree.log" >&2
        exit 2
    }
}

release_copy "$work/a"
# Long enough for any second-resolution stamp to change.
sleep 3
release_copy "$work/a-second-tree-at-a-longer/path"
cat "$work/a.log"

if cmp -s "$work"/a/dist/kelvor-*.zip "$work"/a-second-tree-at-a-longer/path/dist/kelvor-*.zip; then
    echo "the release zip and kelvor.exe are reproducible"
    exit 0
fi

echo "the two releases differ" >&2
exe1=$work/a/build/kelvor.exe
exe2=$work/a-second-tree-at-a-longer/path/build/kelvor.exe
cmp -l "$exe1" "$exe2" | head -40 >&2 || true
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if command -v "$objdump" > /dev/null; then
    # Headers and sections side by side, less the lines naming the file.
    diff <("$objdump" -x "$exe1" | tail -n +4) <("$objdump" -x "$exe2" | tail -n +4) |
        head -60 >&2 || true
fi
exit 1
