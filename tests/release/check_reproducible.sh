#!/usr/bin/env bash
# Builds kelvor.exe twice from scratch, each time from a fresh copy of the tree
# at a different absolute path, with a pause between the two, and fails unless
# both exes are byte for byte the same. On a difference it shows where.
# Usage: check_reproducible.sh <source dir> [cmake]
set -euo pipefail

source_dir=$(cd "${1:?source dir}" && pwd)
cmake=${2:-cmake}
preset=${KELVOR_REPRO_PRESET:-mingw-i686}

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_copy() {
    local tree=$1
    mkdir -p "$tree"
    # Only what the exe is built from; tests and tools do not reach it.
    cp -R "$source_dir/CMakeLists.txt" "$source_dir/CMakePresets.json" \
          "$source_dir/cmake" "$source_dir/src" "$tree/"
    (cd "$tree" &&
     "$cmake" --preset "$preset" > "$tree.configure.log" 2>&1 &&
     "$cmake" --build --preset "$preset" --target kelvor -j2 > "$tree.build.log" 2>&1) || {
        echo "build in $tree failed:" >&2
        cat "$tree.configure.log" "$tree.build.log" >&2 || true
        exit 2
    }
    find "$tree/build" -name kelvor.exe -print -quit
}

first=$(build_copy "$work/a")
# Long enough for any second-resolution stamp to change.
sleep 3
second=$(build_copy "$work/a-second-tree-at-a-longer/path")

for exe in "$first" "$second"; do
    if [[ ! -s "$exe" ]]; then
        echo "no kelvor.exe was built (looked for '$exe')" >&2
        exit 2
    fi
done

sum1=$(sha256sum < "$first" | cut -d' ' -f1)
sum2=$(sha256sum < "$second" | cut -d' ' -f1)
echo "build 1: $first $(stat -c %s "$first") bytes sha256 $sum1"
echo "build 2: $second $(stat -c %s "$second") bytes sha256 $sum2"

if cmp -s "$first" "$second"; then
    echo "kelvor.exe is reproducible"
    exit 0
fi

echo "kelvor.exe differs between the two builds" >&2
cmp -l "$first" "$second" | head -40 >&2 || true
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if command -v "$objdump" > /dev/null; then
    # Headers and sections side by side, less the lines naming the file.
    diff <("$objdump" -x "$first" | tail -n +4) <("$objdump" -x "$second" | tail -n +4) |
        head -60 >&2 || true
fi
exit 1
