#!/usr/bin/env bash
# Builds kelvor.exe from a clean build directory and packs dist/kelvor-<version>.zip
# for Windows: kelvor.exe, README.html (the README's user part, self-contained), the
# command builder page, LICENSE.txt and SHA256SUMS.txt, text with CRLF line ends;
# beside it kelvor-<version>.zip.sha256, naming the zip alone, so it verifies where
# both are downloaded. The zip is deterministic: sorted entries, fixed modes, times
# from SOURCE_DATE_EPOCH or else 1980-01-01 00:00:00, the earliest a zip can hold.
# Usage: scripts/release.sh. Environment, all optional:
#   KELVOR_SIGN_PFX        PKCS#12 file to sign kelvor.exe with (osslsigncode, SHA-256)
#   KELVOR_SIGN_PASSWORD   its password (empty when unset), passed on a pipe only
#   KELVOR_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (needs the network; untested)
#   KELVOR_DIST_DIR        where the zip goes (default dist/ at the top of the tree)
#   KELVOR_BUILD_DIR       the clean build directory (default build/release)
#   KELVOR_DOWNLOAD_URL    the zip's public https:// address: write Scoop and winget
#                          manifests for it into dist/manifests/
#   KELVOR_HOMEPAGE        their homepage (default: the URL up to /releases/, else its site)
set -euo pipefail

fail() {
    echo "release: $*" >&2
    exit 1
}

pfx=${KELVOR_SIGN_PFX:-}
if [[ -n $pfx ]]; then
    command -v osslsigncode > /dev/null ||
        fail "KELVOR_SIGN_PFX is set but osslsigncode is not installed (scripts/install-deps.sh installs it)"
    [[ -f $pfx && -r $pfx ]] || fail "KELVOR_SIGN_PFX names '$pfx', which is not a readable file"
    pfx=$(realpath "$pfx")
fi
# Paths from the environment are taken relative to where the script was started.
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(realpath -m "${KELVOR_DIST_DIR:-$root/dist}")
build=$(realpath -m "${KELVOR_BUILD_DIR:-$root/build/release}")
cd "$root"

page=src/page/kelvor-command-builder.html
for file in README.md LICENSE "$page"; do
    [[ -f $file ]] || fail "$file is missing from the tree; a release must carry it"
done
url=${KELVOR_DOWNLOAD_URL:-}

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
name=kelvor-$version.zip
[[ -z $url || $url == https://*/"$name" ]] || fail "KELVOR_DOWNLOAD_URL must be https://.../$name: '$url'"

# Everything is made in a private directory; dist/ sees only finished files.
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-release.XXXXXX")
published=()
trap 'rm -rf "$work" "${published[@]}"' EXIT
stage=$work/stage
mkdir "$stage" "$work/out"
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
exe_sum="$(sha256sum < "$stage/kelvor.exe" | cut -d' ' -f1)  kelvor.exe"

# /usr/bin/python3 sees Debian's python3-markdown and python3-yaml.
/usr/bin/python3 - "$stage/kelvor.exe" "$work/out" "kelvor-$version" "$page" <<'PY'
import base64, hashlib, json, os, re, sys, time, zipfile
from pathlib import Path
import markdown, yaml

exe, out, top, page = sys.argv[1], Path(sys.argv[2]), sys.argv[3], Path(sys.argv[4])
version = top.removeprefix("kelvor-")
crlf = lambda text: text.replace("\r\n", "\n").replace("\n", "\r\n").encode()
# The README's user part as one page: GitHub's anchors, the pictures inside, the
# builder page beside it, and a policy that allows no request at all.
body = markdown.markdown(
    Path("README.md").read_text("utf-8").split("\n## For developers")[0],
    extensions=["tables", "fenced_code", "toc"], extension_configs={"toc": {"slugify": lambda
        text, dash: re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", dash)}})
body = re.sub(r'src="(docs/[\w-]+\.png)"', lambda m: 'src="data:image/png;base64,'
              + base64.b64encode(Path(m[1]).read_bytes()).decode() + '"', body)
body = body.replace(f'href="{page}"', f'href="{page.name}"')
files = {"kelvor.exe": Path(exe).read_bytes(), "LICENSE.txt": crlf(Path("LICENSE").read_text()),
         page.name: crlf(page.read_text("utf-8")), "README.html": crlf(f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>kelvor {version}</title>
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src data:; style-src 'unsafe-inline'">
<style>body{{font-family:sans-serif;max-width:60em;margin:auto}} table{{border-collapse:collapse}}
td,th{{border:1px solid;padding:0 .3em}}</style>
</head><body>
{body}
</body></html>
""")}
files["SHA256SUMS.txt"] = crlf("".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                                       for name, data in sorted(files.items())))
epoch = os.environ.get("SOURCE_DATE_EPOCH")
stamp = max(time.gmtime(int(epoch))[:6] if epoch else (), (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(out / f"{top}.zip", "w") as archive:
    for name, data in sorted(files.items()):
        info = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
        info.create_system = 3  # Unix, so the modes below are read back
        info.external_attr = (0o100000 | (0o755 if name.endswith(".exe") else 0o644)) << 16
        archive.writestr(info, data, zipfile.ZIP_DEFLATED, compresslevel=9)

if url := os.environ.get("KELVOR_DOWNLOAD_URL"):
    # The fields of Scoop's App Manifests wiki and of winget's schema 1.10.0; the YAML
    # writer quotes what would read back as no string (the version 4.440 stays 4.440).
    sha = hashlib.sha256((out / f"{top}.zip").read_bytes()).hexdigest()
    home = os.environ.get("KELVOR_HOMEPAGE") or (url.split("/releases/")[0]
                                                 if "/releases/" in url else "/".join(url.split("/")[:3]))
    about = "Starts a program, then sets its processor affinity mask and priority class"
    (out / "manifests/winget").mkdir(parents=True)
    (out / "manifests/kelvor.json").write_text(json.dumps(
        {"version": version, "description": about, "homepage": home, "license": "MIT",
         "url": url, "hash": sha, "extract_dir": top, "bin": "kelvor.exe"}, indent=4) + "\n")
    for kind, suffix, fields in (
            ("version", "", {"DefaultLocale": "en-US"}),
            ("defaultLocale", ".locale.en-US", {
                "PackageLocale": "en-US", "Publisher": "kelvor", "PackageName": "kelvor",
                "PackageUrl": home, "License": "MIT", "ShortDescription": about}),
            ("installer", ".installer", {
                "InstallerType": "zip", "NestedInstallerType": "portable",
                "NestedInstallerFiles": [{"RelativeFilePath": f"{top}\\kelvor.exe",
                                          "PortableCommandAlias": "kelvor"}],
                "Installers": [{"Architecture": "x86", "InstallerUrl": url,
                                "InstallerSha256": sha.upper()}]})):
        (out / f"manifests/winget/kelvor.kelvor{suffix}.yaml").write_text(yaml.safe_dump(
            {"PackageIdentifier": "kelvor.kelvor", "PackageVersion": version} | fields
            | {"ManifestType": kind, "ManifestVersion": "1.10.0"}, sort_keys=False))
PY
zip_sum="$(sha256sum < "$work/out/$name" | cut -d' ' -f1)  $name"
echo "$zip_sum" > "$work/out/$name.sha256"

# Copied in under temporary names and renamed, the zip last: an interrupted run
# leaves the previous release whole. Manifests of an earlier zip go either way.
mkdir -p "$dist"
files=("$name.sha256" "$name")
[[ -n $url ]] && files=(manifests "${files[@]}")
for file in "${files[@]}"; do
    published+=("$dist/.$file.$$.partial")
    cp -R "$work/out/$file" "$dist/.$file.$$.partial"
done
rm -rf "$dist/manifests"
for file in "${files[@]}"; do mv -f "$dist/.$file.$$.partial" "$dist/$file"; done

echo "kelvor $version"
echo "kelvor.exe: $(stat -c %s "$stage/kelvor.exe") bytes"
echo "sha256 $exe_sum"
if [[ -n $pfx ]]; then
    echo "unsigned kelvor.exe: $(stat -c %s "$exe") bytes"
    echo "unsigned sha256 $unsigned_sum  kelvor.exe"
fi
echo "sha256 $zip_sum"
[[ -n $url ]] || echo "no KELVOR_DOWNLOAD_URL: no package manifests"
