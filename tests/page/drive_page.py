#!/usr/bin/python3
"""Drives src/page/kelvor-command-builder.html from file:// in headless Chromium (Debian's
chromium-driver and python3-selenium, so /usr/bin/python3) as a user does, for the groups
builder and cpus of tests/e2e/e2e.py. As a program it runs CHECKS (--check) or makes the
README's picture (--screenshot <png>, with python3-pil)."""

import base64
import io
import json
import sys
import tempfile
import time
import zlib
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

PAGE = Path(__file__).resolve().parents[2] / "src/page/kelvor-command-builder.html"
TOPOLOGY = ("logical", "threads-per-core", "p-cores", "e-cores", "dies")


def layout_line(fields):
    """kelvor-cpus.exe's line of the fields after its name, with its check (docs/CPU-LAYOUT.md)."""
    line = "kelvor-cpus-1;" + fields
    return f"{line};x={zlib.crc32(line.encode()):08X}"


# docs/CPU-LAYOUT.md's example: 8 P-cores of two threads, 16 E-cores, one 36 MB L3.
LAYOUT_8P_16E = layout_line("g=32;c=" + ",".join([f"1:{2 * i}-{2 * i + 1}" for i in range(8)] + [
    f"0:{cpu}" for cpu in range(16, 32)]) + ";l=3:36864:0-31;n=0-31;p=0-31")
# The picture: that CPU read from its line, its P-cores picked.
EXAMPLE = dict(layout=LAYOUT_8P_16E, cpus="p", priority=5, delay=1000, arguments="-fast",
               kelvor=r"C:\Tools\kelvor.exe", program=r"C:\Program Files (x86)\Some Game\game.exe")


def open_page(downloads: Path, page: Path = PAGE):
    """Headless Chromium (as root: no sandbox) on `page` from file://, logging its requests
    for requests_made(); the check of the release's README.html opens it too."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--window-size=1000,800",
                 "--disable-background-networking", "--disable-component-update"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=webdriver.chrome.service.Service("/usr/bin/chromedriver"),
                              options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(downloads)})
    driver.get(page.as_uri())
    return driver


def paste(driver, field, text):
    """Puts text into the field at once, as a paste does: one input event, then a change."""
    driver.execute_script("""const field = document.getElementById(arguments[0]);
        field.focus(); field.select();
        if (arguments[1] !== '') document.execCommand('insertText', false, arguments[1]);
        else field.value = '', field.dispatchEvent(new Event('input', {bubbles: true}));
        field.dispatchEvent(new Event('change', {bubbles: true}));""", field, text)


def fill(driver, case):
    """Enters what the case gives of: layout (pasted at once; "" clears it), topology
    (TOPOLOGY's numbers), cpus (to tick, or a quick pick's name), priority, delay, kelvor,
    program, arguments, folder, windows_folder, windows_64 (True or False). Texts are typed
    over the old ones key by key, each key an input event."""
    def type_over(field, text):
        driver.find_element(By.ID, field).send_keys(Keys.CONTROL, "a", Keys.NULL, Keys.DELETE,
                                                    str(text))
    if "layout" in case:
        paste(driver, "layout", case["layout"])
    for field, number in zip(TOPOLOGY, case.get("topology", ())):
        type_over(field, number)
    cpus = case.get("cpus", "")
    if cpus and isinstance(cpus, str):
        driver.find_element(By.CSS_SELECTOR, f"button[data-pick='{cpus}']").click()
    for tile in driver.find_elements(By.CSS_SELECTOR, "input[name=cpu]"):
        if not isinstance(cpus, str) and tile.is_selected() != (int(tile.get_attribute("value"))
                                                                in cpus):
            tile.find_element(By.XPATH, "./ancestor::label").click()
    if "priority" in case:
        Select(driver.find_element(By.ID, "priority")).select_by_value(str(case["priority"]))
    for field in ("delay", "kelvor", "program", "arguments", "folder", "windows_folder"):
        if field in case:
            type_over(field.replace("_", "-"), case[field])
    box = driver.find_element(By.ID, "windows-64-bit")
    if "windows_64" in case and box.is_selected() != bool(case["windows_64"]):
        box.click()


def read(driver):
    """Each output's text by id (a warnings list's items one a line), each field's error
    sentence, the ticked cpus, each tile ({cpu, core, kind: "P", "E", "E<class>" or "", cache:
    its section's title or "", selectable, ticked}), the quick picks ({name, label, enabled}),
    whether the count fields show, and whether the .bat can be downloaded."""
    return driver.execute_script("""
        const all = selector => [...document.querySelectorAll(selector)];
        const outputs = all('.out [id], ul.warnings, .note, #blocked, #layout-summary');
        return {outputs: Object.fromEntries(outputs.map(e => [e.id, e.tagName === 'UL' ?
                    [...e.children].map(li => li.textContent).join('\\n') : e.textContent])),
                errors: Object.fromEntries(all('[id$="-error"]').map(e =>
                    [e.id.slice(0, -6), e.textContent])),
                ticked: all('input[name=cpu]:checked').map(tile => Number(tile.value)),
                tiles: all('label.tile').map(t => ({cpu: Number(t.querySelector('input').value),
                    core: Number(t.dataset.core), kind: t.dataset.kind,
                    cache: t.closest('.die').querySelector('.die-name')?.textContent ?? '',
                    selectable: !t.querySelector('input').disabled,
                    ticked: t.querySelector('input').checked})),
                picks: all('[data-pick]').map(b => ({name: b.dataset.pick,
                    label: b.textContent, enabled: !b.disabled})),
                counts_shown: !document.getElementById('counts').hidden,
                download: document.getElementById('download-bat').hasAttribute('href')};""")


def output_needs(driver):
    """The page's own table of the fields each output needs ({output id: [field id]}); "cpus"
    also stands for the count fields."""
    return driver.execute_script("return OUTPUT_NEEDS")


def download_bat(driver, downloads: Path):
    """Clicks the download button; the file's name and bytes (the file removed)."""
    driver.find_element(By.ID, "download-bat").click()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        files = list(downloads.iterdir())  # Chrome may name the file before filling it
        if files and all(not f.name.endswith(".crdownload") and f.stat().st_size for f in files):
            data = files[0].read_bytes()
            files[0].unlink()
            return files[0].name, data
        time.sleep(0.05)
    return None, b""


def requests_made(driver):
    """The URL of each request the page made since the last call."""
    return [json.loads(entry["message"])["message"]["params"]["request"]["url"]
            for entry in driver.get_log("performance")
            if '"Network.requestWillBeSent"' in entry["message"]]


# What only a browser shows (builder.test.mjs checks the page's functions), on one page in
# order: the steps (fill's cases or functions of the driver), then what read() shows, with focus.
CHECKS = [
    ("a pasted line hides the counts, draws kinds, disables cpu31; its E-cores picked",
     [dict(layout=LAYOUT_8P_16E, cpus="e")], lambda g: not g["counts_shown"] and
     [t["kind"] for t in g["tiles"]] == ["P"] * 16 + ["E"] * 16 and
     [t["cpu"] for t in g["tiles"] if not t["selectable"]] == [31] and
     g["ticked"] == list(range(16, 31)) and
     g["outputs"]["layout-summary"].startswith("24 cores, 32 logical processors")),
    ("a damaged line: a sentence, the tiles and ticks as they were",
     [dict(layout=LAYOUT_8P_16E[:-1] + ("1" if LAYOUT_8P_16E[-1] == "0" else "0"))],
     lambda g: g["errors"]["layout"].startswith("This line is damaged") and
     len(g["tiles"]) == 32 and g["ticked"] == list(range(16, 31))),
    ("cleared: the counts again, the vanished ticks gone, the CPUs named as what waits",
     [dict(layout="")], lambda g: g["counts_shown"] and len(g["tiles"]) == 8 and
     not g["errors"]["layout"] and g["ticked"] == [] and g["errors"]["cpus"] and
     "CPUs the program" in g["outputs"]["blocked"]),
    ("all ticked, typing 24 over 8 keeps all ticked", [dict(cpus="all"), dict(topology=(24,))],
     lambda g: g["ticked"] == list(range(24))),
    ("cpu0 and cpu2 ticked, typing 24 over 8 keeps cpu2 through 2, ticks no more",
     [dict(topology=(8,), cpus=[0, 2]), dict(topology=(24,))], lambda g: g["ticked"] == [0, 2]),
    ("a bad delay: no .bat to download, and the sentence's button goes to the delay",
     [dict(delay="x"), lambda d: d.find_element(By.CSS_SELECTOR, "#blocked button").click()],
     lambda g: not g["download"] and g["focus"] == "delay" and
     g["outputs"]["blocked"].startswith("The lines left empty wait for Delay")),
    ("a .bat on Windows as the page starts, 64-bit: its cmd.exe through Sysnative",
     [dict(delay=0, program=r"C:\s\run.bat")], lambda g: g["download"] and
     g["outputs"]["cmd-note"].startswith(r"run.bat runs in C:\Windows\Sysnative\cmd.exe")),
]


def screenshot(driver, png: Path):
    """The README's picture: EXAMPLE entered, the whole page drawn 800 px wide (at 0.8 of
    its 1000 px, so that text stays sharp) in 32 colours by python3-pil."""
    from PIL import Image
    fill(driver, EXAMPLE)
    height = driver.execute_script(
        "document.activeElement.blur(); window.scrollTo(0, 0);"
        "return document.documentElement.scrollHeight")
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": 1000, "height": height, "deviceScaleFactor": 0.8, "mobile": False})
    shot = driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png"})["data"]
    with Image.open(io.BytesIO(base64.b64decode(shot))) as page:
        page.convert("RGB").quantize(32, dither=Image.Dither.NONE).save(png, optimize=True)


if __name__ == "__main__":
    if sys.argv[1:] != ["--check"] and (sys.argv[1:2] != ["--screenshot"] or len(sys.argv) != 3):
        sys.exit("usage: drive_page.py --check | --screenshot <png>")
    with tempfile.TemporaryDirectory() as downloads:
        driver = open_page(Path(downloads))
        try:
            if sys.argv[1] == "--screenshot":
                screenshot(driver, Path(sys.argv[2]))
                sys.exit(0)
            failed = 0
            for name, steps, right in CHECKS:
                for step in steps:
                    step(driver) if callable(step) else fill(driver, step)
                got = dict(read(driver), focus=driver.execute_script(
                    "return document.activeElement.id"))
                passed = bool(right(got))
                print(f"{'ok  ' if passed else 'FAIL'} {name}" +
                      ("" if passed else f"\n  {json.dumps(got)[:2000]}"))
                failed += not passed
            sys.exit(f"{failed} of {len(CHECKS)} page checks failed" if failed else 0)
        finally:
            driver.quit()
