#!/usr/bin/env bash
# Builds kelvor.exe and kelvor-cpus.exe from a clean build directory and packs
# dist/kelvor-<version>.zip for Windows: both exes, README.html (the README's user part,
# self-contained), the command builder page, LICENSE.txt and SHA256SUMS.txt, text with
# CRLF line ends; beside it kelvor-<version>.zip.sha256, naming the zip alone, so it
# verifies where both are downloaded. The zip is deterministic: sorted entries, fixed
# modes, times from SOURCE_DATE_EPOCH, else the last commit's time, else (outside a git
# checkout) 1980-01-01 00:00:00, the earliest a zip can hold.
# Usage: scripts/release.sh. Environment, all optional:
#   KELVOR_SIGN_PFX        PKCS#12 file to sign both exes with (osslsigncode, SHA-256)
#   KELVOR_SIGN_PASSWORD   its password (empty when unset), passed on a pipe only
#   KELVOR_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (needs the network; untested)
#   KELVOR_DIST_DIR        where the zip goes (default dist/ at the top of the tree)
#   KELVOR_BUILD_DIR       the clean build directory (default build/release)
#   KELVOR_DOWNLOAD_URL    the zip's public https:// address: write Scoop and winget
#                          manifests for it into dist/manifests/ (needs KELVOR_HOMEPAGE)
#   KELVOR_HOMEPAGE        the project's https:// home page, named by both manifests
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
home=${KELVOR_HOMEPAGE:-}
# Scoop's manifest requires a homepage, and a guess from the download address can
# name the wrong page, so the manifests are made only with one given.
[[ -z $url || -n $home ]] ||
    fail "KELVOR_DOWNLOAD_URL is set but KELVOR_HOMEPAGE is not; Scoop's manifest requires a homepage"
[[ -z $home || $home == https://?* ]] || fail "KELVOR_HOMEPAGE must be an https:// address: '$home'"
# The zip's times: the last commit's when this tree is a git checkout's top.
epoch=${SOURCE_DATE_EPOCH:-}
if [[ -z $epoch && $(git -C "$root" rev-parse --show-toplevel 2> /dev/null) == "$root" ]]; then
    epoch=$(git -C "$root" log -1 --format=%ct)
fi

# The build directory is wiped first; never wipe a directory some build did not make.
if [[ -d $build && -n $(ls -A "$build") && ! -f $build/CMakeCache.txt ]]; then
    fail "$build holds files but no CMakeCache.txt; not clearing it for a build"
fi
rm -rf "$build"
cmake --preset mingw-i686 -B "$build" > /dev/null
exes=(kelvor kelvor-cpus)
cmake --build "$build" --target "${exes[@]}" -j2 > /dev/null ||
    fail "cannot build ${exes[*]}; cmake --build $build --target ${exes[*]} shows why"
ctest --test-dir "$build" -L '^exe$' --output-on-failure > /dev/null 2>&1 ||
    fail "an exe fails its checks; ctest --test-dir $build -L '^exe\$' shows why"
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

if [[ -n $pfx ]]; then
    sign=(osslsigncode sign -pkcs12 "$pfx" -h sha256 -n kelvor)
    # An empty password is no -readpass at all: osslsigncode refuses an empty one.
    [[ -n ${KELVOR_SIGN_PASSWORD:-} ]] && sign+=(-readpass -)
    # Time-stamping asks the server over the network and makes each signature
    # differ; the unsigned build stays the same either way.
    [[ -n ${KELVOR_SIGN_TIMESTAMP_URL:-} ]] && sign+=(-ts "$KELVOR_SIGN_TIMESTAMP_URL")
fi
for exe in "${exes[@]/%/.exe}"; do
    if [[ -z $pfx ]]; then
        cp "$build/$exe" "$stage/"
        continue
    fi
    # printf is a shell builtin, so the password shows in no process's arguments.
    if ! printf '%s' "${KELVOR_SIGN_PASSWORD:-}" |
        "${sign[@]}" -in "$build/$exe" -out "$stage/$exe" > "$work/sign.out" 2> "$work/sign.err"; then
        reason=$(grep -m1 . "$work/sign.err" || grep -m1 -v '^Failed$' "$work/sign.out" || true)
        fail "cannot sign $exe: ${reason:-osslsigncode failed and gave no reason}"
    fi
    osslsigncode remove-signature -in "$stage/$exe" -out "$work/unsigned-$exe" > /dev/null 2>&1 ||
        fail "osslsigncode cannot take the signature off the signed $exe again"
    cmp -s "$work/unsigned-$exe" "$build/$exe" ||
        fail "the signed $exe less its signature is not the unsigned build byte for byte"
done

# /usr/bin/python3 sees Debian's python3-markdown and python3-yaml.
/usr/bin/python3 - "$stage" "$work/out" "kelvor-$version" "$page" "$epoch" <<'PY'
import base64, hashlib, json, os, re, sys, time, zipfile
from pathlib import Path
import markdown, yaml

stage, out, top, page, epoch = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3], Path(
    sys.argv[4]), sys.argv[5]
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
# A link to a file of the source that the zip does not carry keeps its text alone.
body = re.sub(r'<a href="(?![a-z]+:|#)[^"]*/[^"]*">(.*?)</a>', r"\1", body)
# Laid out for a laptop's window: pictures, long code and wide tables stay within the
# column; a code block or a table too wide for it scrolls inside itself, not the page.
style = """body{font-family:sans-serif;line-height:1.45;max-width:52em;margin:0 auto;
padding:0 1.25em 2em;overflow-wrap:break-word}
img{max-width:100%;height:auto}
code{background:#f0f0f0;padding:0 .2em}
pre{background:#f0f0f0;padding:.6em .8em;overflow-x:auto}
pre code{padding:0;overflow-wrap:normal}
table{border-collapse:collapse;display:block;max-width:100%;overflow-x:auto}
td,th{border:1px solid #999;padding:.2em .4em;vertical-align:top}"""
exes = sorted(path.name for path in stage.glob("*.exe"))
files = {name: (stage / name).read_bytes() for name in exes} | {
    "LICENSE.txt": crlf(Path("LICENSE").read_text()),
    page.name: crlf(page.read_text("utf-8")), "README.html": crlf(f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>kelvor {version}</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src data:; style-src 'unsafe-inline'">
<style>{style}</style>
</head><body>
{body}
</body></html>
""")}
files["SHA256SUMS.txt"] = crlf("".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                                       for name, data in sorted(files.items())))
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
    home = os.environ["KELVOR_HOMEPAGE"]
    about = "Starts a program, then sets its processor affinity mask and priority class"
    (out / "manifests").mkdir()
    # checkver finds the newest zip's name on the homepage; autoupdate takes that
    # version's zip and its hash from the .sha256 file published beside it.
    (out / "manifests/kelvor.json").write_text(json.dumps(
        {"version": version, "description": about, "homepage": home, "license": "MIT",
         "url": url, "hash": sha, "extract_dir": top, "bin": exes,
         "checkver": {"url": home, "regex": r"kelvor-([\d.]+)\.zip"},
         "autoupdate": {"url": url.replace(version, "$version"), "extract_dir": "kelvor-$version",
                        "hash": {"url": "$url.sha256"}}}, indent=4) + "\n")
    # The community repository's layout: manifests/<first letter>/<publisher>/<package>/<version>/.
    package = "kelvor.kelvor"
    winget = out.joinpath("manifests/winget/manifests", package[0], *package.split("."), version)
    winget.mkdir(parents=True)
    for kind, suffix, fields in (
            ("version", "", {"DefaultLocale": "en-US"}),
            ("defaultLocale", ".locale.en-US", {
                "PackageLocale": "en-US", "Publisher": "kelvor", "PackageName": "kelvor",
                "PackageUrl": home, "License": "MIT", "ShortDescription": about}),
            ("installer", ".installer", {
                "InstallerType": "zip", "NestedInstallerType": "portable",
                "NestedInstallerFiles": [{"RelativeFilePath": f"{top}\\{name}",
                                          "PortableCommandAlias": name.removesuffix(".exe")}
                                         for name in exes],
                "Installers": [{"Architecture": "x86", "InstallerUrl": url,
                                "InstallerSha256": sha.upper()}]})):
        (winget / f"{package}{suffix}.yaml").write_text(
            f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.1.10.0"
            ".schema.json\n" + yaml.safe_dump(
                {"PackageIdentifier": package, "PackageVersion": version} | fields
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
for exe in "${exes[@]/%/.exe}"; do
    echo "$exe: $(stat -c %s "$stage/$exe") bytes, sha256 $(sha256sum < "$stage/$exe" | cut -d' ' -f1)"
    [[ -z $pfx ]] || echo "unsigned sha256 $(sha256sum < "$build/$exe" | cut -d' ' -f1)  $exe"
done
echo "sha256 $zip_sum"
[[ -n $url ]] || echo "no KELVOR_DOWNLOAD_URL: no package manifests"
