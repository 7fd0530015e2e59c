#!/usr/bin/python3
"""Checks of the docs and of scripts/release.sh; /usr/bin/python3 sees Debian's yaml, selenium.
  links <file.md>...     every relative link and anchor resolves as on GitHub
  zip <source> <exe>     two copies of the tree give the same zip, fit for Windows, and a hash
                         file and manifests beside it that match it
  signed <source> <exe>  a signed release verifies, less its signature is <exe>, and fails
                         in one line, dist untouched, on a wrong password or no certificate
<exe> is the build's kelvor.exe; kelvor-cpus.exe is the one beside it."""
import hashlib, json, os, re, shutil, subprocess, sys, tempfile, time, zipfile
from pathlib import Path

failures = []
EXES = ("kelvor.exe", "kelvor-cpus.exe")  # what a release carries, beside each other
GUIDE_LIMIT = 150 * 1024  # README.html's bytes at most


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
    if guide.stat().st_size > GUIDE_LIMIT:
        fault(f"README.html is {guide.stat().st_size} bytes, over {GUIDE_LIMIT}")
    browser = drive_page.open_page(folder.parent, guide)
    try:
        shown = browser.execute_script(
            "return [...document.images].filter(i => i.complete && i.naturalWidth > 0).length")
        urls = drive_page.requests_made(browser)
        for width in (800, 1280):  # a small and a common laptop window
            browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": 800, "deviceScaleFactor": 1, "mobile": False})
            wide, seen = browser.execute_script("const page = document.documentElement; "
                                                "return [page.scrollWidth, page.clientWidth]")
            print(f"README.html at {width} px: {wide} px wide in a {seen} px viewport")
            if wide > seen or seen > width:
                fault(f"README.html at {width} px is {wide} px wide, wider than its window")
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


WINGET_SCHEMA = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.{}.1.10.0.schema.json"


def check_manifests(folder, url, home, zip_hash, names):
    top = names[0].split("/")[0]  # the zip's folder, kelvor-<version>, holding the exes
    version = top.removeprefix("kelvor-")
    import yaml
    scoop = json.loads((folder / "kelvor.json").read_text("utf-8"))
    # Scoop's App Manifests wiki: version, description, homepage, license; url, hash,
    # extract_dir and bin install a zip; checkver reads the homepage for the newest
    # version and autoupdate rewrites url and hash for it.
    expected = {"version": version, "url": url, "hash": zip_hash, "homepage": home,
                "extract_dir": top}
    for key in ("description", "license", *expected):
        if not isinstance(scoop.get(key), str) or scoop[key] != expected.get(key, scoop[key]):
            fault(f"kelvor.json: {key} is {scoop.get(key)!r}")
    if sorted(scoop.get("bin", [])) != sorted(EXES):
        fault(f"kelvor.json: bin is {scoop.get('bin')!r}, not both exes")
    checkver, autoupdate = scoop.get("checkver", {}), scoop.get("autoupdate", {})
    found = re.findall(checkver.get("regex", "$^"), f"<a href='{url}'>{top}.zip</a>")
    if checkver.get("url") != home or set(found) != {version}:
        fault(f"kelvor.json: checkver {checkver} does not find {version} on the homepage")
    if autoupdate.get("url", "").replace("$version", version) != url or "$version" not in \
            autoupdate.get("url", "") or autoupdate.get("hash") != {"url": "$url.sha256"} or \
            autoupdate.get("extract_dir", "").replace("$version", version) != top:
        fault(f"kelvor.json: autoupdate {autoupdate} is not the zip at $version and its .sha256")

    # The community repository's layout, winget-pkgs: manifests/k/kelvor/kelvor/<version>/.
    kinds, layout = {}, folder / "winget/manifests/k/kelvor/kelvor" / version
    paths = sorted((folder / "winget").rglob("*.yaml"))
    if not paths or {path.parent for path in paths} != {layout}:
        fault(f"winget manifests lie in {sorted({str(p.parent) for p in paths})}, not {layout}")
    for path in paths:
        text = path.read_text()
        fields = yaml.safe_load(text)
        kind = fields.get("ManifestType")
        kinds[kind] = fields
        if text.splitlines()[0] != WINGET_SCHEMA.format(kind):
            fault(f"{path.name}: first line {text.splitlines()[0]!r}, not the schema of {kind}")
        missing = ({"PackageIdentifier", "PackageVersion", "ManifestType", "ManifestVersion"}
                   | WINGET_REQUIRED.get(kind, {"a known ManifestType"}))
        missing -= set(fields)
        if missing or fields.get("PackageVersion") != version or not all(
                isinstance(value, (str, list)) for value in fields.values()):
            fault(f"{path.name}: missing {sorted(missing)}, a value no string, or no {version}")
    if set(kinds) != set(WINGET_REQUIRED):
        return fault(f"winget manifests: {sorted(kinds, key=str)}, not {sorted(WINGET_REQUIRED)}")
    if kinds["defaultLocale"].get("PackageUrl") != home:
        fault(f"locale manifest: PackageUrl {kinds['defaultLocale'].get('PackageUrl')!r}")
    manifest = kinds["installer"]
    installer, nested = manifest["Installers"][0], manifest["NestedInstallerFiles"]
    aliases = {file.get("RelativeFilePath", "").replace("\\", "/"):
               file.get("PortableCommandAlias") for file in nested}
    if (installer.get("InstallerUrl"), installer.get("InstallerSha256", "").lower(),
            installer.get("Architecture"), manifest["NestedInstallerType"]) != (
            url, zip_hash, "x86", "portable") or aliases != {
            f"{top}/{exe}": exe.removesuffix(".exe") for exe in EXES}:
        fault(f"installer manifest: not both portable exes of the zip at its URL: {manifest}")


def dist_files(work, name):
    """What dist/ holds, by path and hash, to show that a refused release leaves it as it was."""
    return sorted((str(p), p.is_file() and sha256(p)) for p in Path(work, name, "dist").rglob("*"))


def check_zip(source, exe, work):
    trees = [f"{work}/a", f"{work}/a-second-tree-at-a-longer/path"]
    # Each copy is a git checkout of its own whose one commit has the source's last
    # commit time, which the zip's entries must then carry.
    stamp = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"], check=True,
                           capture_output=True, text=True).stdout.strip()
    git_env = {**os.environ, "GIT_AUTHOR_DATE": f"@{stamp} +0000",
               "GIT_COMMITTER_DATE": f"@{stamp} +0000", "GIT_AUTHOR_NAME": "release check",
               "GIT_AUTHOR_EMAIL": "check@kelvor.invalid", "GIT_COMMITTER_NAME": "release check",
               "GIT_COMMITTER_EMAIL": "check@kelvor.invalid"}
    for tree in trees:  # the tree as git sees it: what it tracks and what it does not ignore
        os.makedirs(tree)
        subprocess.run("git ls-files -z --cached --others --exclude-standard | tar --null "
                       f"--ignore-failed-read -T - -cf - | tar -xf - -C {tree}",
                       shell=True, cwd=source, check=True)
        subprocess.run("git init -q && git add -A && git commit -q -m copy", shell=True,
                       cwd=tree, check=True, env=git_env)
    home = "https://kelvor.example.org/"
    note = release(trees[1], work, "second")[1]
    zip_name = next(Path(work, "second/dist").glob("kelvor-*.zip")).name
    time.sleep(3)  # long enough for any second-resolution stamp to change
    url = f"https://downloads.example.org/kelvor/releases/download/latest/{zip_name}"
    # A homepage is never guessed from the download URL: without one, or with one that is
    # no https:// address, no release.
    before = dist_files(work, "second")
    for homepage in ({}, {"KELVOR_HOMEPAGE": "http://kelvor.example.org/"}):
        ok, _, err = release(trees[0], work, "second", False, KELVOR_DOWNLOAD_URL=url, **homepage)
        if ok or not re.fullmatch(r"release: [^\n]+\n", err) or "KELVOR_HOMEPAGE" not in err \
                or dist_files(work, "second") != before:
            fault(f"a URL with {homepage or 'no homepage'}: no one 'release:' line naming "
                  "KELVOR_HOMEPAGE, or dist changed")
    release(trees[0], work, "first", KELVOR_DOWNLOAD_URL=url, KELVOR_HOMEPAGE=home)
    dist = Path(work, "first/dist")
    if Path(work, "second/dist", zip_name).read_bytes() != (dist / zip_name).read_bytes():
        fault("the two releases differ")
        subprocess.run(f"cmp -l {work}/*/build/kelvor.exe | head", shell=True)
    if note.count("manifest") != 1 or "\nno KELVOR_DOWNLOAD_URL: no package manifests" not in note \
            or Path(work, "second/dist/manifests").exists():
        fault("without a URL, manifests are made or the one-line note is missing")

    archive = zipfile.ZipFile(dist / zip_name)
    # A zip keeps local time in 2-second steps; the release writes UTC.
    commit_time = time.gmtime(int(stamp) // 2 * 2)[:6]
    dates = {info.date_time for info in archive.infolist()}
    print(f"zip entry dates: {sorted(dates)}; last commit: {commit_time}")
    if dates != {commit_time}:
        fault(f"the zip's entries are dated {sorted(dates)}, not the last commit's {commit_time}")
    archive.extractall(folder := Path(work, "unpacked"))
    folder = next(folder.iterdir())  # the zip's one folder
    names = sorted(f"{folder.name}/{p.name}" for p in folder.iterdir())
    print("the zip holds:", ", ".join(names))
    for path, data in ((p, p.read_bytes()) for p in folder.iterdir()):
        if path.suffix not in (".exe", ".html", ".txt"):
            fault(f"{path.name}: no extension Windows opens by double-click")
        if path.suffix != ".exe" and not 0 < data.count(b"\n") == data.count(b"\r\n"):
            fault(f"{path.name}: a text file with a line end other than CRLF")
    for name in EXES:
        if not (folder / name).is_file() or \
                (folder / name).read_bytes() != Path(exe).with_name(name).read_bytes():
            fault(f"the zip's {name} is missing or not this build's")
    listed = re.findall(r"^[0-9a-f]{64}  (\S+)$", (folder / "SHA256SUMS.txt").read_text(),
                        re.M)
    if sorted(listed) != sorted(p.name for p in folder.iterdir() if p.name != "SHA256SUMS.txt"):
        fault(f"SHA256SUMS.txt lists {listed}, not every other file of the folder")
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
    check_manifests(dist / "manifests", url, home, sha256(dist / zip_name), names)


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
    sums = (folder / "SHA256SUMS.txt").read_text()
    for name in EXES:  # each exe signed, verifying against the signer alone
        signed, stripped = folder / name, Path(work, f"stripped-{name}")
        built = Path(unsigned).with_name(name)
        verify = [subprocess.run(["osslsigncode", "verify", "-CAfile", f"{work}/{cert}.pem",
                                  "-in", str(signed)], capture_output=True, text=True)
                  for cert in ("cert", "other")]
        for pattern in ("Signature verification: ok", "Subject: /CN=kelvor release test",
                        "Text description: kelvor", "Message digest algorithm *: SHA256"):
            if verify[0].returncode or not re.search(pattern, verify[0].stdout):
                fault(f"osslsigncode verify does not show '{pattern}' for {name}")
        if verify[1].returncode == 0:
            fault(f"osslsigncode verify accepts the signed {name} against another certificate")
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out",
                        str(stripped)], capture_output=True)
        if signed.read_bytes() == built.read_bytes() or not stripped.exists() or \
                stripped.read_bytes() != built.read_bytes():
            fault(f"the zip's {name} is unsigned, or less its signature not this build's")
        if f"unsigned sha256 {sha256(built)}  {name}" not in out.splitlines() or \
                f"{sha256(signed)}  {name}\n" not in sums:
            fault(f"release.sh does not print the unsigned hash of {name}, or SHA256SUMS.txt "
                  "not the signed one")
    for name, dist, pfx, word, told in (
            ("wrong_password", "signed", "signer.pfx", "not-" + password, "password"),
            ("missing_file", "never-made", "absent.pfx", password, "absent.pfx")):
        before = dist_files(work, dist)
        ok, _, err = release(source, work, dist, False, KELVOR_SIGN_PFX=f"{work}/{pfx}",
                             KELVOR_SIGN_PASSWORD=word)
        if ok or not re.fullmatch(r"release: [^\n]+\n", err) or told not in err.lower() or \
                dist_files(work, dist) != before:
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
