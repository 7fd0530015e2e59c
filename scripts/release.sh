#!/usr/bin/env bash
# Builds kelvor.exe from a clean build directory and packs
# dist/kelvor-<version>.zip: kelvor.exe, README.md, LICENSE and SHA256SUMS.
# The zip is deterministic: sorted entries, fixed times and modes, so the same
# tree gives the same zip. The times come from SOURCE_DATE_EPOCH when it is set,
# else they are 1980-01-01 00:00:00, the earliest a zip can hold.
# Usage: scripts/release.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

missing=0
for file in README.md LICENSE; do
    if [[ ! -f "$file" ]]; then
        echo "release: $file is missing at the top of the tree; a release must carry it" >&2
        missing=1
    fi
done
((missing == 0)) || exit 1

build=$root/build/release
rm -rf "$build"
cmake --preset mingw-i686 -B "$build" > /dev/null
cmake --build "$build" --target kelvor -j2 > /dev/null
exe=$build/kelvor.exe
ctest --test-dir "$build" -L '^exe$' --output-on-failure > /dev/null
# The build reads the release number from src/launcher/version.h.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

stage=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-release.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$exe" README.md LICENSE "$stage/"
exe_sum=$(cd "$stage" && sha256sum kelvor.exe)
echo "$exe_sum" > "$stage/SHA256SUMS"

mkdir -p dist
zip=dist/kelvor-$version.zip
python3 - "$stage" "$zip" "kelvor-$version" <<'PY'
import os, sys, time, zipfile

stage, target, top = sys.argv[1:4]
epoch = os.environ.get("SOURCE_DATE_EPOCH")
stamp = time.gmtime(int(epoch))[:6] if epoch else (1980, 1, 1, 0, 0, 0)
stamp = max(stamp, (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(target + ".tmp", "w") as archive:
    for name in sorted(os.listdir(stage)):
        info = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3  # Unix, so the modes below are read back
        mode = 0o755 if name.endswith(".exe") else 0o644
        info.external_attr = (0o100000 | mode) << 16
        with open(os.path.join(stage, name), "rb") as f:
            archive.writestr(info, f.read(), compresslevel=9)
os.replace(target + ".tmp", target)
PY

zip_sum=$(sha256sum "$zip")
echo "$zip_sum" > "$zip.sha256"
echo "kelvor $version"
echo "kelvor.exe: $(stat -c %s "$exe") bytes"
echo "sha256 $exe_sum"
echo "sha256 $zip_sum"
