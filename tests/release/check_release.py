#!/usr/bin/python3
"""Checks of the docs and of scripts/release.sh; /usr/bin/python3 sees Debian's yaml, selenium.
  links <file.md>...     every relative link and anchor resolves as on GitHub
  zip <source> <exe>     two copies of the tree give the same zip, fit for Windows, and a hash
                         file and manifests beside it that match it
  signed <source> <exe>  a signed release verifies, less its signature is <exe>, and fails
                         in one line, dist untouched, on a wrong password or no certificate"""
import hashlib, json, os, re, shutil, subprocess, sys, tempfile, time, zipfile
from pathlib import Path

failures = []


def fault(message):
    print(f"FAIL: {message}", file=sys.stderr)
    failures.append(message)


def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()


def without_code(text, spans=False):
    text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
    return re.sub(r"`[^`\n]*`", "", text) if spans else text


def anchors(path):
    """GitHub's anchor of each heading: lower case, punctuation dropped, spaces to hyphens."""
    headings = re.findall(r"^#{1,6} +(.+)$", without_code(path.read_text("utf-8")), re.M)
    return {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in headings}


def check_links(*names):
    for path in map(Path, names):
        text = without_code(path.read_text("utf-8"), True)
        for target in re.findall(r"\]\((?![a-z]+:)([^)\s]+)\)", text):  # not to the web
            file, _, anchor = target.partition("#")
            linked = (path.parent / file).resolve() if file else path
            if not linked.exists() or (anchor and linked.suffix == ".md"
                                       and anchor not in anchors(linked)):
                fault(f"{path}: the link {target} leads nowhere")


def release(tree, work, name, must=True, **env):
    env = {**os.environ, "KELVOR_DIST_DIR": f"{work}/{name}/dist",
           "KELVOR_BUILD_DIR": f"{work}/{name}/build", **env}
    run = subprocess.run(["bash", f"{tree}/scripts/release.sh"], env=env, capture_output=True,
                         text=True)
    if must and run.returncode:
        sys.exit(f"release.sh failed to make the {name} release:\n{run.stdout}{run.stderr}")
    print(run.stdout, end="")
    return run.returncode == 0, run.stdout, run.stderr


def check_guide(folder):
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "page"))
    import drive_page  # selenium
    text = (guide := folder / "README.html").read_text("utf-8")
    ids, pictures = set(re.findall(r'\sid="([^"]+)"', text)), re.findall(r"<img ", text)
    for tag, target in re.findall(r'<(\w+) [^>]*?\b(?:href|src)="([^"]*)"', text):
        web = target.startswith("https://") or (tag == "img" and target.startswith("data:"))
        if not (web or (target[1:] in ids if target.startswith("#")
                        else "/" not in target and (folder / target).is_file())):
            fault(f"README.html: <{tag}> points outside the zip: {target[:60]}")
    browser = drive_page.open_page(folder.parent, guide)
    try:
        shown = browser.execute_script(
            "return [...document.images].filter(i => i.complete && i.naturalWidth > 0).length")
        urls = drive_page.requests_made(browser)
    finally:
        browser.quit()
    if shown != len(pictures) or shown < 7:
        fault(f"README.html shows {shown} of its {len(pictures)} pictures, 7 expected at least")
    for url in urls:  # what the page asks for; data: and the page itself are no request
        if url != guide.as_uri() and not url.startswith("data:"):
            fault(f"README.html makes a request: {url[:80]}")


WINGET_REQUIRED = {  # winget-pkgs doc/manifest/schema/1.10.0, beyond what every kind needs
    "version": {"DefaultLocale"},
    "defaultLocale": {"PackageLocale", "Publisher", "PackageName", "License", "ShortDescription"},
    "installer": {"Installers", "InstallerType", "NestedInstallerType", "NestedInstallerFiles"}}


def check_manifests(folder, url, zip_hash, names):
    top = names[0].split("/")[0]  # the zip's folder, kelvor-<version>, holding kelvor.exe
    version = top.removeprefix("kelvor-")
    import yaml
    scoop = json.loads((folder / "kelvor.json").read_text("utf-8"))
    # Scoop's App Manifests wiki: version, description, homepage, license; url, hash,
    # extract_dir and bin install a zip.
    expected = {"version": version, "url": url, "hash": zip_hash, "bin": "kelvor.exe",
                "extract_dir": top}
    for key in ("description", "homepage", "license", *expected):
        if not isinstance(scoop.get(key), str) or scoop[key] != expected.get(key, scoop[key]):
            fault(f"kelvor.json: {key} is {scoop.get(key)!r}")
    kinds = {}
    for path in sorted((folder / "winget").glob("*.yaml")):
        fields = yaml.safe_load(path.read_text())
        kinds[fields.get("ManifestType")] = fields
        missing = ({"PackageIdentifier", "PackageVersion", "ManifestType", "ManifestVersion"}
                   | WINGET_REQUIRED.get(fields.get("ManifestType"), {"a known ManifestType"}))
        missing -= set(fields)
        if missing or fields.get("PackageVersion") != version or not all(
                isinstance(value, (str, list)) for value in fields.values()):
            fault(f"{path.name}: missing {sorted(missing)}, a value no string, or no {version}")
    if set(kinds) != set(WINGET_REQUIRED):
        return fault(f"winget manifests: {sorted(kinds, key=str)}, not {sorted(WINGET_REQUIRED)}")
    manifest = kinds["installer"]
    installer, nested = manifest["Installers"][0], manifest["NestedInstallerFiles"][0]
    if (installer.get("InstallerUrl"), installer.get("InstallerSha256", "").lower(),
            installer.get("Architecture"), manifest["NestedInstallerType"],
            nested.get("PortableCommandAlias")) != (url, zip_hash, "x86", "portable", "kelvor") \
            or nested.get("RelativeFilePath", "").replace("\\", "/") not in names:
        fault(f"installer manifest: no portable exe of the zip at its URL and hash: {manifest}")


def check_zip(source, exe, work):
    trees = [f"{work}/a", f"{work}/a-second-tree-at-a-longer/path"]
    for tree in trees:  # the tree as git sees it: what it tracks and what it does not ignore
        os.makedirs(tree)
        subprocess.run("git ls-files -z --cached --others --exclude-standard | tar --null "
                       f"--ignore-failed-read -T - -cf - | tar -xf - -C {tree}",
                       shell=True, cwd=source, check=True)
    note = release(trees[1], work, "second")[1]
    zip_name = next(Path(work, "second/dist").glob("kelvor-*.zip")).name
    time.sleep(3)  # long enough for any second-resolution stamp to change
    url = f"https://downloads.example.org/kelvor/releases/download/latest/{zip_name}"
    release(trees[0], work, "first", KELVOR_DOWNLOAD_URL=url)
    dist = Path(work, "first/dist")
    if Path(work, "second/dist", zip_name).read_bytes() != (dist / zip_name).read_bytes():
        fault("the two releases differ")
        subprocess.run(f"cmp -l {work}/*/build/kelvor.exe | head", shell=True)
    if note.count("manifest") != 1 or "\nno KELVOR_DOWNLOAD_URL: no package manifests" not in note \
            or Path(work, "second/dist/manifests").exists():
        fault("without a URL, manifests are made or the one-line note is missing")

    zipfile.ZipFile(dist / zip_name).extractall(folder := Path(work, "unpacked"))
    folder = next(folder.iterdir())  # the zip's one folder
    names = sorted(f"{folder.name}/{p.name}" for p in folder.iterdir())
    print("the zip holds:", ", ".join(names))
    for path, data in ((p, p.read_bytes()) for p in folder.iterdir()):
        if path.suffix not in (".exe", ".html", ".txt"):
            fault(f"{path.name}: no extension Windows opens by double-click")
        if path.suffix != ".exe" and not 0 < data.count(b"\n") == data.count(b"\r\n"):
            fault(f"{path.name}: a text file with a line end other than CRLF")
    if (folder / "kelvor.exe").read_bytes() != Path(exe).read_bytes():
        fault("the zip's kelvor.exe is not this build's")
    check_guide(folder)
    # The hash files verify where they lie: SHA256SUMS.txt in the folder, the zip's next to
    # the zip in a fresh folder, naming it alone, in lower case (the README's PowerShell
    # line compares Get-FileHash's upper case with -eq, which ignores case).
    fresh = Path(tempfile.mkdtemp(dir=work))
    for name in (zip_name, f"{zip_name}.sha256"):
        shutil.copy(dist / name, fresh)
    for where, sums in ((folder, "SHA256SUMS.txt"), (fresh, f"{zip_name}.sha256")):
        if subprocess.run(["sha256sum", "-c", "--strict", sums], cwd=where).returncode:
            fault(f"{sums} does not verify")
    line = re.search(r"^\(Get-FileHash \.\\(\S+)\)\.Hash -eq \(Get-Content \.\\(\S+)\)"
                     r"\.Split\(\)\[0\]$", Path(source, "README.md").read_text("utf-8"), re.M)
    if not line or line.groups() != (zip_name, f"{zip_name}.sha256") or \
            (fresh / line[2]).read_text() != f"{sha256(fresh / zip_name)}  {zip_name}\n":
        fault(f"{zip_name}.sha256 is not '<hash>  {zip_name}', or the README's line names others")
    check_manifests(dist / "manifests", url, sha256(dist / zip_name), names)


def check_signed(source, unsigned, work):
    password = f"correct-horse-{os.getpid()}"
    # Self-signed RSA 2048 for code signing; and another key under the same name, which
    # must not verify the signature.
    for key, cert in (("key", "cert"), ("other-key", "other")):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=kelvor release test", "-addext",
                        "extendedKeyUsage=codeSigning", "-keyout", f"{work}/{key}.pem",
                        "-out", f"{work}/{cert}.pem"], check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", f"{work}/key.pem", "-in",
                    f"{work}/cert.pem", "-passout", "env:KEY_PASS", "-out", f"{work}/signer.pfx"],
                   check=True, capture_output=True, env={**os.environ, "KEY_PASS": password})
    out = release(source, work, "signed", KELVOR_SIGN_PFX=f"{work}/signer.pfx",
                  KELVOR_SIGN_PASSWORD=password)[1]
    zipfile.ZipFile(next(Path(work, "signed/dist").glob("kelvor-*.zip"))).extractall(work)
    folder = next(Path(work).glob("kelvor-*/"))
    signed, stripped = folder / "kelvor.exe", Path(work, "stripped.exe")
    verify = [subprocess.run(["osslsigncode", "verify", "-CAfile", f"{work}/{cert}.pem", "-in",
                              str(signed)], capture_output=True, text=True)
              for cert in ("cert", "other")]
    for pattern in ("Signature verification: ok", "Subject: /CN=kelvor release test",
                    "Text description: kelvor", "Message digest algorithm *: SHA256"):
        if verify[0].returncode or not re.search(pattern, verify[0].stdout):
            fault(f"osslsigncode verify does not show '{pattern}'")
    if verify[1].returncode == 0:
        fault("osslsigncode verify accepts the signed exe against another certificate")
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(stripped)],
                   capture_output=True)
    if signed.read_bytes() == Path(unsigned).read_bytes() or not stripped.exists() or \
            stripped.read_bytes() != Path(unsigned).read_bytes():
        fault("the zip's exe is unsigned, or less its signature not this build's exe")
    if f"unsigned sha256 {sha256(unsigned)}  kelvor.exe" not in out.splitlines() or \
            f"{sha256(signed)}  kelvor.exe\n" not in (folder / "SHA256SUMS.txt").read_text():
        fault("release.sh does not print the unsigned hash, or SHA256SUMS.txt not the signed one")
    for name, dist, pfx, word, told in (
            ("wrong_password", "signed", "signer.pfx", "not-" + password, "password"),
            ("missing_file", "never-made", "absent.pfx", password, "absent.pfx")):
        snapshot = lambda: sorted((str(p), p.is_file() and sha256(p))
                                  for p in Path(work, dist, "dist").rglob("*"))
        before = snapshot()
        ok, _, err = release(source, work, dist, False, KELVOR_SIGN_PFX=f"{work}/{pfx}",
                             KELVOR_SIGN_PASSWORD=word)
        if ok or not re.fullmatch(r"release: [^\n]+\n", err) or told not in err.lower() or \
                snapshot() != before:
            fault(f"{name}: no one 'release:' line naming the {told}, or dist changed")


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "links":
        check_links(*arguments)
    else:
        work = tempfile.mkdtemp(prefix=f"kelvor-release-{command}.")
        try:
            check = {"zip": check_zip, "signed": check_signed}[command]
            check(*map(os.path.abspath, arguments), work)
        finally:
            shutil.rmtree(work)
    print(f"{len(failures)} failures" if failures else f"{command}: every check holds")
    sys.exit(1 if failures else 0)
