#!/usr/bin/python3
"""Checks releases made by scripts/release.sh. Run by /usr/bin/python3, which sees Debian's
python3-yaml and python3-selenium.

check_release.py zip <source dir> <kelvor.exe of this build>
    Makes the release from two copies of the tree (what git tracks plus untracked files it
    does not ignore) at different paths, a few seconds apart, the first with a download URL,
    and fails unless both zips are byte for byte the same and the zip is what a Windows user
    needs: files that open by double-click, CRLF text, a guide that loads in Chromium with
    its pictures and no request, a hash file that verifies next to the zip, and Scoop and
    winget manifests that carry the fields their tools require, the zip's URL and hash.
check_release.py signed <source dir> <kelvor.exe of this build>
    Signs a release with a throwaway certificate; it must verify against that certificate
    only, and less its signature be this build's exe. A wrong password and a missing
    certificate must each stop release.sh with one "release: ..." line, leaving dist alone.
"""
import hashlib
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

import yaml

failures = []


def fault(message):
    print(f"FAIL: {message}", file=sys.stderr)
    failures.append(message)


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def release(tree, work, name, **env):
    """scripts/release.sh of <tree> into <work>/<name>/dist; returns (ok, stdout, stderr)."""
    env = {**os.environ, "KELVOR_DIST_DIR": f"{work}/{name}/dist",
           "KELVOR_BUILD_DIR": f"{work}/{name}/build", **env}
    run = subprocess.run(["bash", f"{tree}/scripts/release.sh"], env=env, capture_output=True,
                         text=True)
    return run.returncode == 0, run.stdout, run.stderr


def made(result, what):
    ok, out, err = result
    if not ok:
        sys.exit(f"release.sh failed to make {what}:\n{out}{err}")
    print(out, end="")
    return out


def unpack(zip_path, into):
    zipfile.ZipFile(zip_path).extractall(into)
    return next(Path(into).iterdir())


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.targets = set(), []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.ids.add(attrs.get("id"))
        self.targets += [(tag, attrs[key]) for key in ("href", "src") if key in attrs]


def check_guide(folder):
    """Every link stays inside the zip, or goes to the web; Chromium loads every picture
    and makes no request."""
    guide = folder / "README.html"
    links = Links()
    links.feed(guide.read_text("utf-8"))
    for tag, target in links.targets:
        inside = target[1:] in links.ids if target.startswith("#") else (folder / target).is_file()
        if not (target.startswith("https://") or (tag == "img" and target.startswith("data:"))
                or ("/" not in target and inside)):
            fault(f"README.html: <{tag}> points outside the zip: {target[:60]}")
    pictures = [target for tag, target in links.targets if tag == "img"]
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 f"--user-data-dir={tempfile.mkdtemp(dir=folder.parent)}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    browser = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
    try:
        browser.get(guide.as_uri())
        shown = browser.execute_script(
            "return [...document.images].filter(i => i.complete && i.naturalWidth > 0).length")
        requests = [event["params"]["request"]["url"] for entry in browser.get_log("performance")
                    for event in [json.loads(entry["message"])["message"]]
                    if event["method"] == "Network.requestWillBeSent"
                    and event["params"].get("documentURL") == guide.as_uri()]
    finally:
        browser.quit()
    print(f"README.html in Chromium: {shown} of {len(pictures)} pictures shown")
    if shown != len(pictures) or len(pictures) < 7:
        fault(f"README.html shows {shown} of its {len(pictures)} pictures, 7 expected at least")
    for url in requests:
        if url != guide.as_uri() and not url.startswith("data:"):
            fault(f"README.html makes a request: {url[:80]}")


WINGET_REQUIRED = {  # winget-pkgs doc/manifest/schema/1.10.0 and its JSON schemas
    "version": {"PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType",
                "ManifestVersion"},
    "defaultLocale": {"PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType",
                      "ManifestVersion"},
    "installer": {"PackageIdentifier", "PackageVersion", "Installers", "ManifestType",
                  "ManifestVersion", "InstallerType", "NestedInstallerType",
                  "NestedInstallerFiles"}}


def check_manifests(folder, url, zip_hash, version, names):
    """Each manifest against the fields its tool requires; every value a string."""
    scoop = json.loads((folder / "kelvor.json").read_text("utf-8"))
    # Scoop's App Manifests wiki: version, description, homepage, license; url, hash,
    # extract_dir and bin to install a zip.
    expected = {"version": version, "url": url, "hash": zip_hash, "bin": "kelvor.exe"}
    for key in ("description", "homepage", "license", "extract_dir", *expected):
        if not isinstance(scoop.get(key), str) or scoop[key] != expected.get(key, scoop[key]):
            fault(f"kelvor.json: {key} is {scoop.get(key)!r}")
    if f"{scoop.get('extract_dir')}/{scoop.get('bin')}" not in names:
        fault("kelvor.json: extract_dir/bin names no file in the zip")
    kinds = {}
    for path in sorted((folder / "winget").glob("*.yaml")):
        fields = yaml.safe_load(path.read_text("utf-8"))
        kinds[fields.get("ManifestType")] = fields
        missing = WINGET_REQUIRED.get(fields.get("ManifestType"), {"ManifestType"}) - set(fields)
        scalars = [v for v in fields.values() if not isinstance(v, list)]
        if missing or not all(isinstance(v, str) for v in scalars):
            fault(f"{path.name}: missing {sorted(missing)}, or a value that is no string")
        if fields.get("PackageVersion") != version or fields.get("ManifestVersion") != "1.10.0":
            fault(f"{path.name}: PackageVersion {fields.get('PackageVersion')!r}")
    if set(kinds) != set(WINGET_REQUIRED):
        fault(f"winget manifests: {sorted(kinds, key=str)}, expected {sorted(WINGET_REQUIRED)}")
        return
    installer = kinds["installer"]["Installers"][0]
    nested = kinds["installer"]["NestedInstallerFiles"][0]
    if (installer.get("InstallerUrl"), installer.get("InstallerSha256", "").lower(),
            installer.get("Architecture")) != (url, zip_hash, "x86"):
        fault(f"installer manifest: {installer}")
    if (kinds["installer"]["NestedInstallerType"], nested.get("PortableCommandAlias")) != (
            "portable", "kelvor") or nested.get("RelativeFilePath", "").replace("\\", "/") not in names:
        fault(f"installer manifest: nested {nested} is no portable exe in the zip")


def check_zip(source, exe, work):
    files = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                            "--exclude-standard"], capture_output=True, text=True, check=True)
    trees = [f"{work}/a", f"{work}/a-second-tree-at-a-longer/path"]
    for tree in trees:
        for name in filter(None, files.stdout.split("\0")):
            if Path(source, name).is_file():
                Path(tree, name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(Path(source, name), Path(tree, name))
    note = made(release(trees[1], work, "second"), "the release without a URL")
    zip_name = next(Path(work, "second/dist").glob("kelvor-*.zip")).name
    version = zip_name.removeprefix("kelvor-").removesuffix(".zip")
    time.sleep(3)  # long enough for any second-resolution stamp to change
    url = f"https://downloads.example.org/kelvor/releases/download/v{version}/{zip_name}"
    made(release(trees[0], work, "first", KELVOR_DOWNLOAD_URL=url), "the release with a URL")
    dist = Path(work, "first/dist")
    if Path(work, "second/dist", zip_name).read_bytes() != (dist / zip_name).read_bytes():
        fault("the two releases differ")
        subprocess.run(f"cmp -l {work}/first/build/kelvor.exe {work}/second/build/kelvor.exe "
                       "| head -40", shell=True)
    note_lines = [line for line in note.splitlines() if "manifest" in line]
    if note_lines != ["no KELVOR_DOWNLOAD_URL: no package manifests"] or Path(
            work, "second/dist/manifests").exists():
        fault(f"without a URL: manifests made, or not one note: {note_lines}")

    folder = unpack(dist / zip_name, f"{work}/unpacked")
    names = sorted(f"{folder.name}/{p.name}" for p in folder.iterdir())
    print("the zip holds:", ", ".join(names))
    for path in folder.iterdir():
        if path.suffix not in (".exe", ".html", ".txt"):
            fault(f"{path.name}: no extension Windows opens by double-click")
        data = path.read_bytes()
        if path.suffix != ".exe" and (b"\r\n" not in data or data.count(b"\n") != data.count(b"\r\n")):
            fault(f"{path.name}: a text file with a line end other than CRLF")
    if (folder / "kelvor.exe").read_bytes() != Path(exe).read_bytes():
        fault("the zip's kelvor.exe is not this build's")
    if subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS.txt"], cwd=folder).returncode:
        fault("SHA256SUMS.txt does not match the files")
    check_guide(folder)

    # The hash file verifies next to the zip in a fresh folder, and the README's
    # PowerShell line compares what it reads there.
    fresh = Path(tempfile.mkdtemp(dir=work))
    for name in (zip_name, f"{zip_name}.sha256"):
        shutil.copy(dist / name, fresh)
    if subprocess.run(["sha256sum", "-c", "--strict", f"{zip_name}.sha256"], cwd=fresh).returncode:
        fault(f"{zip_name}.sha256 does not verify next to the zip")
    line = re.search(r"^\(Get-FileHash \.\\(\S+)\)\.Hash -eq \(Get-Content \.\\(\S+)\)\.Split\(\)\[0\]$",
                     Path(source, "README.md").read_text("utf-8"), re.M)
    if not line or line.groups() != (zip_name, f"{zip_name}.sha256"):
        fault(f"the README's Get-FileHash line does not name {zip_name} and its .sha256")
    elif sha256(fresh / zip_name).upper().casefold() != (fresh / line[2]).read_text().split()[0].casefold():
        fault("Get-FileHash's hash (upper case) differs from the hash file's")
    check_manifests(dist / "manifests", url, sha256(dist / zip_name), version, names)


def snapshot(dist):
    """Every entry of a dist directory with its size and hash, or 'absent'."""
    if not Path(dist).exists():
        return "absent"
    return sorted((str(p), p.stat().st_size, p.is_file() and sha256(p)) for p in Path(dist).rglob("*"))


def check_signed(source, unsigned, work):
    password = f"correct-horse-{os.getpid()}"
    # RSA 2048, self-signed, for code signing only; and a second certificate with the same
    # name but another key, which must not verify the signature.
    subject = ["-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
               "/CN=kelvor release test", "-addext", "extendedKeyUsage=codeSigning"]
    for key, cert in (("key", "cert"), ("other-key", "other")):
        subprocess.run(["openssl", "req", *subject, "-keyout", f"{work}/{key}.pem",
                        "-out", f"{work}/{cert}.pem"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", f"{work}/key.pem", "-in",
                    f"{work}/cert.pem", "-passout", "env:KEY_PASS", "-out", f"{work}/signer.pfx"],
                   check=True, capture_output=True, env={**os.environ, "KEY_PASS": password})
    out = made(release(source, work, "signed", KELVOR_SIGN_PFX=f"{work}/signer.pfx",
                       KELVOR_SIGN_PASSWORD=password), "a signed release")
    zip_path = next(Path(work, "signed/dist").glob("kelvor-*.zip"))
    folder = unpack(zip_path, f"{work}/unpacked")
    signed = folder / "kelvor.exe"

    def verify(cert):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", f"{work}/{cert}.pem", "-in",
                               str(signed)], capture_output=True, text=True)
    good = verify("cert")
    print("\n".join(sorted({line.strip() for line in good.stdout.splitlines() if re.search(
        r"Signature verification|Message digest algorithm|Subject|Text description", line)})))
    for pattern in ("Signature verification: ok", "Subject: /CN=kelvor release test",
                    "Text description: kelvor", "Message digest algorithm *: SHA256"):
        if good.returncode or not re.search(pattern, good.stdout):
            fault(f"osslsigncode verify does not show '{pattern}'")
    if verify("other").returncode == 0:
        fault("osslsigncode verify accepts the signed exe against another certificate")
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out",
                    f"{work}/stripped.exe"], capture_output=True)
    stripped = Path(work, "stripped.exe")
    if signed.read_bytes() == Path(unsigned).read_bytes() or not stripped.exists() or \
            stripped.read_bytes() != Path(unsigned).read_bytes():
        fault("the zip's exe is unsigned, or less its signature not this build's exe")
    if f"unsigned sha256 {sha256(unsigned)}  kelvor.exe" not in out.splitlines():
        fault("release.sh does not print the unsigned build's hash")
    sums = (folder / "SHA256SUMS.txt").read_text()
    if f"{sha256(signed)}  kelvor.exe" not in sums.splitlines():
        fault("SHA256SUMS.txt does not list the signed exe")

    for name, dist, pfx, word, told in (
            ("wrong_password", "signed", "signer.pfx", f"not-{password}", "password"),
            ("missing_file", "never-made", "absent.pfx", password, "absent.pfx")):
        before = snapshot(f"{work}/{dist}/dist")
        ok, _, err = release(source, work, dist, KELVOR_SIGN_PFX=f"{work}/{pfx}",
                             KELVOR_SIGN_PASSWORD=word)
        print(f"{name}: {err.strip()}")
        if ok or not re.fullmatch(r"release: [^\n]+\n", err) or told not in err.lower():
            fault(f"{name}: release.sh does not stop with one 'release: ...' line naming {told}")
        if snapshot(f"{work}/{dist}/dist") != before:
            fault(f"{name}: the dist directory changed")


if __name__ == "__main__":
    command, source, exe = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    work = tempfile.mkdtemp(prefix=f"kelvor-release-{command}.")
    try:
        {"zip": check_zip, "signed": check_signed}[command](source, exe, work)
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failures" if failures else f"release {command}: every check holds")
    sys.exit(1 if failures else 0)
