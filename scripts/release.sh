#!/usr/bin/env bash
# Builds kelvor.exe from a clean build directory and packs
# dist/kelvor-<version>.zip: kelvor.exe, README.md, LICENSE and SHA256SUMS.
# The zip is deterministic: sorted entries, fixed times and modes, so the same
# tree gives the same zip. The times come from SOURCE_DATE_EPOCH when it is set,
# else they are 1980-01-01 00:00:00, the earliest a zip can hold.
# Usage: scripts/release.sh
# Environment, all optional:
#   KELVOR_SIGN_PFX        PKCS#12 file: sign kelvor.exe with it (osslsigncode,
#                          SHA-256); the zip and SHA256SUMS then carry the signed exe
#   KELVOR_SIGN_PASSWORD   its password (empty when unset); handed to osslsigncode
#                          on a pipe, never on a command line or on disk
#   KELVOR_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server to countersign through
#                          (needs the network; untested here, the machines have none)
#   KELVOR_DIST_DIR        where the zip goes (default dist/ at the top of the tree)
#   KELVOR_BUILD_DIR       the clean build directory (default build/release)
# A signed exe less its signature (osslsigncode remove-signature) is the unsigned
# build byte for byte; the script checks that and prints both hashes.
set -euo pipefail

fail() {
    echo "release: $*" >&2
    exit 1
}

# Paths from the environment are taken relative to where the script was started.
absolute() {
    if [[ $1 == /* ]]; then echo "$1"; else echo "$PWD/$1"; fi
}

pfx=${KELVOR_SIGN_PFX:-}
if [[ -n $pfx ]]; then
    command -v osslsigncode > /dev/null ||
        fail "KELVOR_SIGN_PFX is set but osslsigncode is not installed (scripts/install-deps.sh installs it)"
    [[ -f $pfx && -r $pfx ]] || fail "KELVOR_SIGN_PFX names '$pfx', which is not a readable file"
    pfx=$(absolute "$pfx")
fi
dist_shown=${KELVOR_DIST_DIR:-dist}
dist_shown=${dist_shown%/}
dist=
[[ -n ${KELVOR_DIST_DIR:-} ]] && dist=$(absolute "$dist_shown")
build=
[[ -n ${KELVOR_BUILD_DIR:-} ]] && build=$(absolute "${KELVOR_BUILD_DIR%/}")

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dist=${dist:-$root/dist}
build=${build:-$root/build/release}

missing=0
for file in README.md LICENSE; do
    if [[ ! -f "$file" ]]; then
        echo "release: $file is missing at the top of the tree; a release must carry it" >&2
        missing=1
    fi
done
((missing == 0)) || exit 1

# The build directory is wiped first; never wipe a directory some build did not make.
if [[ -d $build && -n $(ls -A "$build") && ! -f $build/CMakeCache.txt ]]; then
    fail "$build holds files but no CMakeCache.txt; not clearing it for a build"
fi
rm -rf "$build"
cmake --preset mingw-i686 -B "$build" > /dev/null
cmake --build "$build" --target kelvor -j2 > /dev/null
exe=$build/kelvor.exe
ctest --test-dir "$build" -L '^exe$' --output-on-failure > /dev/null 2>&1 ||
    fail "kelvor.exe fails its checks; ctest --test-dir $build -L '^exe\$' shows why"
# The build reads the release number from src/launcher/version.h.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# Everything is made in a private directory; dist/ sees only finished files.
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-release.XXXXXX")
published=()
trap 'rm -rf "$work" "${published[@]}"' EXIT
stage=$work/stage
mkdir "$stage" "$work/out"
cp README.md LICENSE "$stage/"
unsigned_sum=$(sha256sum < "$exe" | cut -d' ' -f1)

if [[ -n $pfx ]]; then
    sign=(osslsigncode sign -pkcs12 "$pfx" -h sha256 -n kelvor)
    # An empty password is no -readpass at all: osslsigncode refuses an empty one.
    [[ -n ${KELVOR_SIGN_PASSWORD:-} ]] && sign+=(-readpass -)
    # Time-stamping asks the server over the network and makes each signature
    # differ; the unsigned build stays the same either way.
    [[ -n ${KELVOR_SIGN_TIMESTAMP_URL:-} ]] && sign+=(-ts "$KELVOR_SIGN_TIMESTAMP_URL")
    # printf is a shell builtin, so the password shows in no process's arguments.
    if ! printf '%s' "${KELVOR_SIGN_PASSWORD:-}" |
        "${sign[@]}" -in "$exe" -out "$stage/kelvor.exe" > "$work/sign.out" 2> "$work/sign.err"; then
        reason=$(grep -m1 . "$work/sign.err" || grep -m1 -v '^Failed$' "$work/sign.out" || true)
        fail "cannot sign kelvor.exe: ${reason:-osslsigncode failed and gave no reason}"
    fi
    osslsigncode remove-signature -in "$stage/kelvor.exe" -out "$work/unsigned.exe" > /dev/null 2>&1 ||
        fail "osslsigncode cannot take the signature off the signed kelvor.exe again"
    cmp -s "$work/unsigned.exe" "$exe" ||
        fail "the signed kelvor.exe less its signature is not the unsigned build byte for byte"
else
    cp "$exe" "$stage/"
fi
exe_sum=$(cd "$stage" && sha256sum kelvor.exe)
echo "$exe_sum" > "$stage/SHA256SUMS"

name=kelvor-$version.zip
python3 - "$stage" "$work/out/$name" "kelvor-$version" <<'PY'
import os, sys, time, zipfile

stage, target, top = sys.argv[1:4]
epoch = os.environ.get("SOURCE_DATE_EPOCH")
stamp = time.gmtime(int(epoch))[:6] if epoch else (1980, 1, 1, 0, 0, 0)
stamp = max(stamp, (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(target, "w") as archive:
    for name in sorted(os.listdir(stage)):
        info = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 3  # Unix, so the modes below are read back
        mode = 0o755 if name.endswith(".exe") else 0o644
        info.external_attr = (0o100000 | mode) << 16
        with open(os.path.join(stage, name), "rb") as f:
            archive.writestr(info, f.read(), compresslevel=9)
PY
zip_sum="$(sha256sum < "$work/out/$name" | cut -d' ' -f1)  $dist_shown/$name"
echo "$zip_sum" > "$work/out/$name.sha256"

# Copied in under temporary names and renamed, the zip last: an interrupted
# run leaves the previous release whole.
mkdir -p "$dist"
for file in "$name.sha256" "$name"; do
    partial=$dist/.$file.$$.partial
    published+=("$partial")
    cp "$work/out/$file" "$partial"
done
mv -f "$dist/.$name.sha256.$$.partial" "$dist/$name.sha256"
mv -f "$dist/.$name.$$.partial" "$dist/$name"

echo "kelvor $version"
echo "kelvor.exe: $(stat -c %s "$stage/kelvor.exe") bytes"
echo "sha256 $exe_sum"
if [[ -n $pfx ]]; then
    echo "unsigned kelvor.exe: $(stat -c %s "$exe") bytes"
    echo "unsigned sha256 $unsigned_sum  kelvor.exe"
fi
echo "sha256 $zip_sum"
