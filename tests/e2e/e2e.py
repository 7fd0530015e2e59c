#!/usr/bin/env python3
"""End-to-end tests of the real kelvor.exe under Wine.

Each case starts kelvor through raw_runner.exe with an exact raw command line,
while box_reader.exe reads and closes every message box with kelvor's caption, and
(where kelvor should start a target) probe.exe is the target and reports the
command line it got and when its affinity mask and priority class changed.

    e2e.py --build <mingw build dir> --session <Wine session dir> [<group>...]
    e2e.py --list [win32|win64]

The Wine session (Xvfb display, prefix, wineserver) comes from wine_session.sh;
the environment of that session, its arch included, is taken from <session dir>
(see wine_session_attach). Boxes of all kelvor runs appear on one display, so the
groups of one session must run one at a time. Most groups run in a 32-bit
prefix; the groups of WIN64_GROUPS need a 64-bit (WoW64) one. Without group
names, every group of the session's arch runs; --list names them.

Exit code 0 when every check of the named groups passed, 1 otherwise.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
from textdata import facts, priority_classes, unescape  # noqa: E402  (tests/textdata.py)

# The caption and the message texts, byte for byte, from tests/data/facts.def.
FACTS = facts()
CAPTION = FACTS["caption"]
USAGE = FACTS["usage"]
NO_SYSTEM_MASK = FACTS["no_system_mask"]
BAD_AFFINITY = FACTS["bad_affinity"]
BAD_PRIORITY = FACTS["bad_priority"]
BAD_DELAY = FACTS["bad_delay"]


def launch_failed(detail: bytes) -> bytes:
    return FACTS["launch_failed_head"] + detail + FACTS["launch_failed_tail"]


# Priority level -> the class it sets; 3 (normal) is also what a target inherits.
PRIORITY_CLASS = priority_classes()
NORMAL_PRIORITY_CLASS = PRIORITY_CLASS[3]
ABOVE_NORMAL_PRIORITY_CLASS = PRIORITY_CLASS[4]
HIGH_PRIORITY_CLASS = PRIORITY_CLASS[5]


def wine_path(path: Path) -> str:
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def is_v6_comctl32(path: str, arch: str = "x86") -> bool:
    """A path of the common-controls 6 comctl32.dll (themed controls) from winsxs."""
    folder, _, name = path.lower().rpartition("\\")
    return (name == "comctl32.dll" and "\\winsxs\\" in folder and
            folder.rpartition("\\")[2].startswith(
                f"{arch}_microsoft.windows.common-controls_6595b64144ccf1df_6."))


def parse_boxes(path: Path):
    boxes = []
    if not path.exists():
        return boxes
    for line in path.read_text("latin-1").splitlines():
        if not line.startswith("box "):
            continue
        head, text = line.split(" text=", 1)
        fields = dict(f.split("=", 1) for f in head.split(" ")[3:])
        boxes.append({
            "text": unescape(text),
            "textw": b"" if fields["textw"] == "-" else bytes.fromhex(fields["textw"]),
            "comctl32": ([] if fields["comctl32"] == "-" else
                         unescape(fields["comctl32"]).decode("utf-8").split("|")),
            "topmost": fields["topmost"] == "1",
            "buttons": fields["buttons"],
            "rect": tuple(int(v) for v in fields["rect"].split(",")),
        })
    return boxes


def parse_run(path: Path):
    run = {}
    if path.exists():
        for line in path.read_text("latin-1").splitlines():
            key, _, value = line.partition(" ")
            run[key] = value
    return run


def parse_probe(path: Path):
    if not path.exists():
        return None
    probe = {"changes": []}
    for line in path.read_text("latin-1").splitlines():
        key, _, value = line.partition(" ")
        if key == "change":
            us, qpc, affinity, priority = value.split(" ")
            probe["changes"].append({"us": int(us), "qpc": int(qpc),
                                     "affinity": int(affinity, 16),
                                     "priority": int(priority, 16)})
        elif key == "initial":
            affinity, priority = value.split(" ")
            probe["initial"] = {"affinity": int(affinity, 16), "priority": int(priority, 16)}
        elif key == "cmdline_hex":
            probe["cmdline"] = b"" if value == "-" else bytes.fromhex(value)
        elif key == "cmdline_w_hex":
            probe["cmdline_w"] = b"" if value == "-" else bytes.fromhex(value)
        elif key == "bits":
            probe["bits"] = int(value)
        elif key == "system_mask":
            probe["system_mask"] = int(value, 16)
        elif key in ("qpc_frequency", "start_qpc"):
            probe[key] = int(value)
        elif key == "end":
            probe["end"] = value
    return probe


def show(data: bytes) -> str:
    return repr(data)[1:]


class Env:
    """The programs, the Wine session and a scratch directory for the cases."""

    def __init__(self, build: Path, session: Path):
        self.build = build
        self.kelvor = build / "kelvor.exe"
        self.kelvor_no_mask = build / "tests/e2e/kelvor_no_system_mask.exe"
        helpers = build / "tests/e2e"
        self.box_reader = helpers / "box_reader.exe"
        self.raw_runner = helpers / "raw_runner.exe"
        self.session = session
        arch_file = session / "arch"
        self.arch = arch_file.read_text().strip() if arch_file.exists() else "win32"
        self.env = dict(os.environ)
        self.env.update({
            "DISPLAY": (session / "display").read_text().strip(),
            "WINEPREFIX": str(session / "prefix"),
            "WINEARCH": self.arch,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        for name in ("WINELOADER", "WINESERVER"):
            self.env.pop(name, None)
        # Each group (one process) gets its own scratch folder.
        self.work = session / "e2e" / f"{int(time.time())}-{os.getpid()}"
        self.work.mkdir(parents=True, exist_ok=True)
        # Targets: a plain path, and a quoted one with spaces in folder and name.
        self.probe = self.work / "probe.exe"
        shutil.copy(helpers / "probe.exe", self.probe)
        spaced = self.work / "dir with space"
        spaced.mkdir(exist_ok=True)
        self.spaced_probe = spaced / "probe tool.exe"
        shutil.copy(helpers / "probe.exe", self.spaced_probe)
        self.helpers = helpers
        self.counter = 0
        self._system_mask = None
        self.reader = None
        self.readers = 0
        self.boxes_file = None

    def start_reader(self):
        """One box reader serves all runs; each run takes the boxes added during it."""
        if self.reader is not None and self.reader.poll() is None:
            return
        self.readers += 1
        self.boxes_file = self.work / f"boxes-{os.getpid()}-{self.readers}.txt"
        self.boxes_file.unlink(missing_ok=True)
        self.reader = self.wine(self.box_reader, CAPTION.decode("ascii"),
                                wine_path(self.boxes_file), 1000000, 3600000)
        deadline = time.monotonic() + 120
        while "ready" not in (self.boxes_file.read_text("latin-1")
                              if self.boxes_file.exists() else ""):
            if time.monotonic() > deadline or self.reader.poll() is not None:
                raise RuntimeError("box_reader did not start")
            time.sleep(0.05)

    def close(self):
        if self.reader is not None:
            self.reader.terminate()
            self.reader.wait(timeout=60)
            self.reader = None

    def probe_cmd(self) -> bytes:
        return wine_path(self.probe).encode()

    def wine(self, *args, **kwargs):
        return subprocess.Popen(["wine", *map(str, args)], env=kwargs.pop("env", self.env),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, **kwargs)

    def system_mask(self) -> int:
        """The system affinity mask as Windows (Wine) reports it, read by the probe."""
        if self._system_mask is None:
            out = self.work / "system-mask.txt"
            env = dict(self.env, KELVOR_PROBE_OUT=wine_path(out), KELVOR_PROBE_MS="0")
            self.wine(self.probe, env=env).wait(timeout=120)
            self._system_mask = parse_probe(out)["system_mask"]
        return self._system_mask

    def unicode_target(self, helper: str) -> Path:
        """A copy of a helper in a folder whose name is not in any ANSI code page."""
        folder = self.work / "Łódź 東京"
        folder.mkdir(exist_ok=True)
        target = folder / helper
        shutil.copy(self.helpers / helper, target)
        return target

    def run(self, raw: bytes, exe: Path = None, probe_ms: int = 0, settle_ms: int = 300,
            timeout_ms: int = 60000, expect_probe: bool = True, unicode: bool = False):
        """Runs kelvor with the raw command line `raw`; returns boxes, run result, probe.

        With `unicode`, `raw` is UTF-8 and kelvor is started with CreateProcessW."""
        self.counter += 1
        case = self.work / f"run{self.counter:03d}"
        case.mkdir(exist_ok=True)
        run_file, probe_file = case / "run.txt", case / "probe.txt"
        cmd_file = case / "cmdline.bin"
        cmd_file.write_bytes(raw)

        self.start_reader()
        seen = len(parse_boxes(self.boxes_file))

        env = dict(self.env, KELVOR_PROBE_OUT=wine_path(probe_file),
                   KELVOR_PROBE_MS=str(probe_ms or 8000), KELVOR_PROBE_SETTLE_MS=str(settle_ms))
        started = time.monotonic()
        runner = self.wine(self.raw_runner, wine_path(run_file), wine_path(exe or self.kelvor),
                           ("u@" if unicode else "@") + wine_path(cmd_file), timeout_ms, env=env)
        runner.wait(timeout=timeout_ms / 1000 + 180)
        wall = time.monotonic() - started
        # Every box line is written before its OK is pressed, and kelvor has ended.
        time.sleep(0.2)

        result = {"boxes": parse_boxes(self.boxes_file)[seen:], "run": parse_run(run_file),
                  "probe": None, "wall": wall, "dir": case, "probe_ms": probe_ms}
        if expect_probe:
            self.wait_probe(result)
        result["probe"] = parse_probe(probe_file)
        return result

    def wait_probe(self, result):
        """Waits until the probe has finished writing (its "end" line)."""
        probe_file = result["dir"] / "probe.txt"
        deadline = time.monotonic() + (result["probe_ms"] or 8000) / 1000 + 60
        while time.monotonic() < deadline:
            probe = parse_probe(probe_file)
            if probe is not None and "end" in probe:
                break
            time.sleep(0.1)
        result["probe"] = parse_probe(probe_file)


class Checks:
    def __init__(self, group: str):
        self.group = group
        self.passed = 0
        self.failed = 0

    def check(self, name: str, ok: bool, detail: str = ""):
        if ok:
            self.passed += 1
            print(f"  ok    {name}")
        else:
            self.failed += 1
            print(f"  FAIL  {name}: {detail}")
        return ok

    def exit_zero(self, name: str, result):
        run = result["run"]
        self.check(f"{name}: exit code 0", run.get("exit_code") == "0",
                   f"run result {run} (files in {result['dir']})")

    def boxes(self, name: str, result, expected, unicode: bool = False):
        """The boxes, in order and byte for byte (with `unicode`, their Unicode texts
        as UTF-8); every one with caption, OK only."""
        got = [b["textw" if unicode else "text"] for b in result["boxes"]]
        ok = self.check(f"{name}: {len(expected)} box(es) with the exact "
                        f"{'Unicode ' if unicode else ''}texts", got == expected,
                        f"expected {[show(t) for t in expected]}, got {[show(t) for t in got]}")
        if ok and got:
            self.check(f"{name}: every box has one OK button",
                       all(b["buttons"] == "OK" for b in result["boxes"]),
                       str([b["buttons"] for b in result["boxes"]]))

    def no_target(self, name: str, result):
        # The runner's job counts every process kelvor started, even one that had
        # no time yet to write anything.
        jobs = result["run"].get("job_processes")
        self.check(f"{name}: no target started", jobs == "1" and result["probe"] is None,
                   f"processes in kelvor's job: {jobs}, probe: {result['probe']}")

    def target(self, name: str, result, cmdline: bytes = None, cmdline_w: bytes = None):
        """The target started once with this ANSI and/or (UTF-8) Unicode command line."""
        probe = result["probe"]
        jobs = result["run"].get("job_processes")
        if self.check(f"{name}: target started, once", probe is not None and jobs == "2",
                      f"processes in kelvor's job: {jobs}, files in {result['dir']}"):
            if cmdline is not None:
                self.check(f"{name}: target command line", probe["cmdline"] == cmdline,
                           f"expected {show(cmdline)}, got {show(probe['cmdline'])}")
            if cmdline_w is not None:
                got = probe.get("cmdline_w")
                self.check(f"{name}: target Unicode command line", got == cmdline_w,
                           f"expected {cmdline_w.decode('utf-8')!r}, got "
                           f"{got.decode('utf-8', 'replace') if got is not None else None!r}")


def final_state(probe):
    last = probe["changes"][-1] if probe["changes"] else probe["initial"]
    return last["affinity"], last["priority"]


# ----------------------------------------------------------------------------
# Groups


def group_usage(env: Env, c: Checks):
    for name, raw in [("program name only", b"kelvor.exe"),
                      ("program name and blanks", b"kelvor.exe  \t  "),
                      ("empty command line", b""),
                      ("three numbers, no command", b"kelvor.exe 3 3 0"),
                      ("three numbers and spaces", b"kelvor.exe 3 3 0   "),
                      ("quoted name without closing quote",
                       b"\"C:\\x y\\kelvor.exe 1 3 0 " + env.probe_cmd())]:
        r = env.run(raw, expect_probe=False)
        c.boxes(name, r, [USAGE])
        c.no_target(name, r)
        c.exit_zero(name, r)


def group_bad_affinity(env: Env, c: Checks):
    system = env.system_mask()
    outside = ~system & 0x7FFFFFFF
    outside &= -outside  # the lowest processor bit the system does not have
    print(f"  system affinity mask reported by Windows: 0x{system:08x}")
    cases = [("affinity 0", b"0 3 0"),
             ("affinity 2147483648 (bit 31)", b"2147483648 3 0"),
             (f"affinity {outside} (no processor of the system)", str(outside).encode() + b" 3 0"),
             ("affinity 4294967296 (low 32 bits are 0)", b"4294967296 3 0"),
             ("bad affinity and bad priority", b"0 9 0")]
    for name, fields in cases:
        r = env.run(b"kelvor.exe " + fields + b" " + env.probe_cmd(), expect_probe=False)
        c.boxes(name, r, [BAD_AFFINITY, USAGE])
        c.no_target(name, r)
        c.exit_zero(name, r)
    r = env.run(b"kelvor.exe " + env.probe_cmd(), expect_probe=False)
    c.boxes("command alone (affinity reads 0)", r, [BAD_AFFINITY, USAGE])
    c.exit_zero("command alone", r)


def group_bad_priority(env: Env, c: Checks):
    for name, fields in [("priority 0", b"1 0 0 "), ("priority 7", b"1 7 0 "),
                         ("priority field without a number", b"1 ")]:
        r = env.run(b"kelvor.exe " + fields + env.probe_cmd(), expect_probe=False)
        c.boxes(name, r, [BAD_PRIORITY, USAGE])
        c.no_target(name, r)
        c.exit_zero(name, r)


def group_bad_delay(env: Env, c: Checks):
    for name, fields in [("delay 60001", b"1 3 60001 "), ("delay -1", b"1 3 -1 ")]:
        r = env.run(b"kelvor.exe " + fields + env.probe_cmd(), expect_probe=False)
        c.boxes(name, r, [BAD_DELAY, USAGE])
        c.no_target(name, r)
        c.exit_zero(name, r)


def group_launch_failed(env: Env, c: Checks):
    # Delay 60000: if kelvor slept before or after the failure, the runner's
    # 40 s limit would end it and the exit-code check would fail.
    target = b"Z:\\no such dir\\nothing.exe /x \"a b\""
    r = env.run(b"kelvor.exe 1 3 60000 " + target, timeout_ms=40000, expect_probe=False)
    c.boxes("target that cannot start", r, [launch_failed(target), USAGE])
    c.no_target("target that cannot start", r)
    c.exit_zero("target that cannot start (no sleeping)", r)
    print(f"  kelvor ran {r['run'].get('elapsed_ms')} ms with two boxes read and closed")

    long_target = b"Z:\\nothing\\" + b"x" * (5000 - 11)
    assert len(long_target) == 5000
    r = env.run(b"kelvor.exe 1 3 0 " + long_target, expect_probe=False)
    texts = [b["text"] for b in r["boxes"]]
    prefix = FACTS["launch_failed_head"]
    c.check("5,000-character target: two boxes", len(texts) == 2, f"{len(texts)} boxes")
    if len(texts) == 2:
        first = texts[0]
        c.check("5,000-character target: error box of at most 4,095 characters",
                len(first) <= 4095, f"{len(first)} characters")
        c.check("5,000-character target: error box shows the start of the command line",
                first.startswith(prefix + long_target[:3000]), show(first[:120]))
        c.check("5,000-character target: usage box follows", texts[1] == USAGE, show(texts[1]))
        print(f"  error box text length: {len(first)}")
    c.no_target("5,000-character target", r)
    c.exit_zero("5,000-character target (no crash)", r)


def group_no_system_mask(env: Env, c: Checks):
    exe = env.kelvor_no_mask
    r = env.run(b"kelvor.exe 1073741824 3 0 " + env.probe_cmd(), exe=exe, expect_probe=False)
    c.boxes("no system mask, affinity bit 30", r, [NO_SYSTEM_MASK, BAD_AFFINITY, USAGE])
    c.no_target("no system mask, affinity bit 30", r)
    c.exit_zero("no system mask, affinity bit 30", r)

    r = env.run(b"kelvor.exe 1 4 0 " + env.probe_cmd(), exe=exe, expect_probe=True)
    c.boxes("no system mask, affinity 1", r, [NO_SYSTEM_MASK])
    c.target("no system mask, affinity 1", r, env.probe_cmd())
    if r["probe"]:
        c.check("no system mask, affinity 1: target gets mask 1 and above-normal class",
                final_state(r["probe"]) == (1, ABOVE_NORMAL_PRIORITY_CLASS),
                str(final_state(r["probe"])))
    c.exit_zero("no system mask, affinity 1", r)


def group_argument_text(env: Env, c: Checks):
    probe = env.probe_cmd()
    started = [
        ("quoted name with spaces, two blanks", b"\"C:\\x y\\kelvor.exe\"  1 3 0 "),
        ("plain name", b"kelvor.exe 1 3 0 "),
        ("leading spaces, two TABs after the name", b"  kelvor.exe\t\t1 3 0 "),
        ("quoted name directly followed by a digit", b"\"C:\\x y\\kelvor.exe\"1 3 0 "),
        ("TAB ends a quoted name without closing quote", b"\"C:\\x y\\kelvor.exe\t1 3 0 "),
    ]
    for name, head in started:
        r = env.run(head + probe)
        c.boxes(name, r, [])
        c.target(name, r, probe)
        c.exit_zero(name, r)

    # The name is cut at a TAB inside quotes, or at the first space of an unquoted
    # name with quotes in it; what follows is read as the affinity and holds no number.
    for name, raw in [("TAB inside a quoted name", b"\"C:\\x\ty\\kelvor.exe\" 1 3 0 " + probe),
                      ("quotes inside an unquoted name", b"C:\\x\"y z\"\\kelvor.exe 1 3 0 " + probe)]:
        r = env.run(raw, expect_probe=False)
        c.boxes(name, r, [BAD_AFFINITY, USAGE])
        c.no_target(name, r)
        c.exit_zero(name, r)

    # Whatever stands first is dropped as the program name, here the affinity 1:
    # the priority 0 after "3 " is then bad.
    r = env.run(b"1 3 0 " + probe, expect_probe=False)
    c.boxes("no program name: first field dropped", r, [BAD_PRIORITY, USAGE])
    c.exit_zero("no program name", r)


def group_target_command(env: Env, c: Checks):
    spaced = b"\"" + wine_path(env.spaced_probe).encode() + b"\""
    probe = env.probe_cmd()
    remainders = [
        ("quoted path with spaces, options, quotes and backslashes kept",
         b"kelvor.exe 1 3 0 ", spaced + b" /opt -x \"a  b\" \\\\srv\\\"q\\\" end"),
        ("bytes of 128 and above kept", b"kelvor.exe 1 3 0 ", probe + b" caf\xe9 \xfcber \xa0x"),
        ("trailing blanks kept", b"kelvor.exe 1 3 0 ", probe + b" x  \t  "),
        ("spaces after the delay dropped", b"kelvor.exe 1 3 0   ", probe + b" y"),
        ("no blank needed after the delay", b"kelvor.exe 1 3 0", probe),
        ("delay field without a number reads as 0", b"kelvor.exe 1 3 ", probe + b" w"),
    ]
    for name, head, rest in remainders:
        r = env.run(head + rest)
        c.boxes(name, r, [])
        c.target(name, r, rest)
        c.exit_zero(name, r)

    # A TAB after the delay is not skipped: it stays at the front of the target
    # command line. Wine's CreateProcessA does not start a command line that begins
    # with a TAB; then the failure box shows the command line with its TAB.
    name = "TAB after the delay kept at the front"
    rest = probe + b" z"
    r = env.run(b"kelvor.exe 1 3 0 \t" + rest, expect_probe=False)
    if r["run"].get("job_processes") == "2":
        print(f"  {name}: Wine started the target")
        env.wait_probe(r)
        c.boxes(name, r, [])
        c.target(name, r, b"\t" + rest)
    else:
        print(f"  {name}: Wine's CreateProcessA refused the command line")
        c.boxes(name, r, [launch_failed(b"\t" + rest), USAGE])
    c.exit_zero(name, r)

    # "5e" is a number with an exponent mark: the delay is 5 and the target is what
    # follows the "e".
    r = env.run(b"kelvor.exe 1 3 5e" + probe)
    c.boxes("exponent mark taken by the delay", r, [])
    c.target("exponent mark taken by the delay", r, probe)
    c.exit_zero("exponent mark taken by the delay", r)


def group_affinity_priority(env: Env, c: Checks):
    """Each run sets one of the six priority levels and one affinity request."""
    system = env.system_mask()
    print(f"  system affinity mask reported by Windows: 0x{system:08x}")
    low = system & -system  # the lowest processor the system has
    requests = [("1", 1), (str(system), system), ("2147483647", 0x7FFFFFFF),
                ("4294967297", 1), ("3.9", 3), (str(low << 1 | low), low << 1 | low)]
    for level, (text, value) in zip(range(1, 7), requests):
        want_mask = value & system
        if want_mask == 0:
            text, value, want_mask = str(low), low, low
        name = f"affinity {text}, priority {level}"
        r = env.run(b"kelvor.exe %s %d 0 " % (text.encode(), level) + env.probe_cmd())
        c.boxes(name, r, [])
        probe = r["probe"]
        if c.check(f"{name}: target started", probe is not None, str(r["dir"])):
            mask, klass = final_state(probe)
            print(f"  {name}: Wine reports mask 0x{mask:x}, class 0x{klass:x}")
            c.check(f"{name}: target mask is 0x{value & 0xFFFFFFFF:x} AND 0x{system:x}",
                    mask == want_mask, f"got 0x{mask:x}, want 0x{want_mask:x}")
            c.check(f"{name}: class 0x{PRIORITY_CLASS[level]:x}", klass == PRIORITY_CLASS[level],
                    f"got 0x{klass:x}")
            c.check(f"{name}: target's system mask as kelvor's",
                    probe["system_mask"] == system, f"0x{probe['system_mask']:x}")
        c.exit_zero(name, r)


def group_timing(env: Env, c: Checks):
    system = env.system_mask()
    for delay in (3000, 0):
        name = f"delay {delay}"
        r = env.run(b"kelvor.exe 1 5 %d " % delay + env.probe_cmd(), probe_ms=delay + 15000,
                    settle_ms=500)
        c.boxes(name, r, [])
        probe = r["probe"]
        c.exit_zero(name, r)
        if not c.check(f"{name}: target started", probe is not None, str(r["dir"])):
            continue
        c.check(f"{name}: target ends with mask 1 and high class",
                final_state(probe) == (1 & system, HIGH_PRIORITY_CLASS), str(final_state(probe)))
        changes = probe["changes"]
        frequency = probe["qpc_frequency"]
        launch = int(r["run"]["launch_qpc"])
        if delay == 0:
            # With no delay kelvor may well set both before the target first looks
            # (a Wine program takes a while to start), so a change need not be seen.
            when = (f"{(changes[0]['qpc'] - launch) * 1000 / frequency:.0f} ms after launch"
                    if changes else "before the target's first look")
            print(f"  {name}: change {when}; kelvor ran {r['run'].get('elapsed_ms')} ms")
            if changes:
                c.check(f"{name}: change not before kelvor's launch", changes[0]["qpc"] >= launch,
                        str(changes[0]))
            continue
        if not c.check(f"{name}: change seen by the target", bool(changes), str(probe)):
            continue
        after_launch_ms = (changes[0]["qpc"] - launch) * 1000 / frequency
        after_start_ms = changes[0]["us"] / 1000
        print(f"  {name}: change seen {after_launch_ms:.0f} ms after kelvor was launched, "
              f"{after_start_ms:.0f} ms after the target started; "
              f"kelvor ran {r['run'].get('elapsed_ms')} ms")
        # Not before: kelvor cannot apply anything earlier than `delay` after it was
        # launched. Not much later: generous, emulated Wine starts take seconds.
        c.check(f"{name}: change not before the delay", after_launch_ms >= delay,
                f"{after_launch_ms:.1f} ms")
        c.check(f"{name}: change within delay + 20 s", after_launch_ms <= delay + 20000,
                f"{after_launch_ms:.1f} ms")
        # The target started well before the delay ran out, so its first sample
        # shows what it inherited, not what kelvor sets.
        c.check(f"{name}: target first ran with the inherited mask and class",
                probe["initial"] == {"affinity": system, "priority": NORMAL_PRIORITY_CLASS},
                str(probe["initial"]))
        c.check(f"{name}: mask and class each changed once, to the asked values",
                len(changes) <= 2 and final_state(probe) == (1 & system, HIGH_PRIORITY_CLASS),
                str(changes))


def group_delay_60000(env: Env, c: Checks):
    # 60000 is accepted: the target starts at once and no box appears. kelvor is
    # then ended by the runner after 8 s instead of waiting the minute out.
    r = env.run(b"kelvor.exe 1 5 60000 " + env.probe_cmd(), timeout_ms=8000, probe_ms=1000,
                settle_ms=0)
    c.boxes("delay 60000", r, [])
    c.target("delay 60000", r, env.probe_cmd())
    c.check("delay 60000: kelvor still waiting after 8 s (ended by the runner)",
            r["run"].get("killed_after_timeout") == "8000", str(r["run"]))
    if r["probe"]:
        c.check("delay 60000: nothing changed in the target's first second",
                r["probe"]["changes"] == [], str(r["probe"]["changes"]))


def unicode_launch(env: Env, c: Checks, target: Path, bits: int):
    """A Unicode command line: target in a Unicode folder, Unicode arguments."""
    system = env.system_mask()
    name = f"Unicode path and arguments, {bits}-bit target"
    rest = f'"{wine_path(target)}" é Ж 東京 "Łódź"'.encode("utf-8")
    r = env.run(b"kelvor.exe 1 5 0 " + rest, unicode=True)
    c.boxes(name, r, [])
    c.target(name, r, cmdline_w=rest)
    probe = r["probe"]
    if probe:
        c.check(f"{name}: target is a {bits}-bit process", probe.get("bits") == bits,
                str(probe.get("bits")))
        c.check(f"{name}: target ends with mask 1 and high class",
                final_state(probe) == (1 & system, HIGH_PRIORITY_CLASS), str(final_state(probe)))
    c.exit_zero(name, r)


def unicode_launch_failed(env: Env, c: Checks):
    """A Unicode target that cannot start: the box shows it unchanged, themed."""
    name = "Unicode target that cannot start"
    detail = '"Z:\\Łódź 東京\\nope\\app.exe" Ж'.encode("utf-8")
    r = env.run(b"kelvor.exe 1 3 0 " + detail, unicode=True, expect_probe=False)
    c.boxes(name, r, [launch_failed(detail), USAGE], unicode=True)
    c.no_target(name, r)
    c.exit_zero(name, r)
    if r["boxes"]:
        # kelvor is 32-bit in either prefix, so its comctl32 is the x86 one.
        loaded = r["boxes"][0]["comctl32"]
        print(f"  comctl32 in kelvor's process while the error box shows: {loaded}")
        c.check(f"{name}: error box has the common-controls 6 comctl32 (themed)",
                any(is_v6_comctl32(path) for path in loaded), str(loaded))


def group_unicode(env: Env, c: Checks):
    unicode_launch(env, c, env.unicode_target("probe.exe"), 32)
    unicode_launch_failed(env, c)


def group_wow64(env: Env, c: Checks):
    """32-bit kelvor in a 64-bit prefix, starting 64-bit programs."""
    if not c.check("session prefix is 64-bit", env.arch == "win64", f"arch {env.arch}"):
        return
    system = env.system_mask()
    probe64 = env.work / "probe64.exe"
    shutil.copy(env.helpers / "probe64.exe", probe64)
    name = "64-bit target"
    rest = wine_path(probe64).encode() + b" -x"
    r = env.run(b"kelvor.exe 3 4 0 " + rest)
    c.boxes(name, r, [])
    c.target(name, r, cmdline=rest, cmdline_w=rest)
    probe = r["probe"]
    if probe:
        c.check(f"{name}: target is a 64-bit process", probe.get("bits") == 64,
                str(probe.get("bits")))
        c.check(f"{name}: target ends with mask 3 AND 0x{system:x} and above-normal class",
                final_state(probe) == (3 & system, ABOVE_NORMAL_PRIORITY_CLASS),
                str(final_state(probe)))
    c.exit_zero(name, r)
    unicode_launch(env, c, env.unicode_target("probe64.exe"), 64)
    unicode_launch_failed(env, c)


GROUPS = {name[len("group_"):]: fn for name, fn in globals().items() if name.startswith("group_")}
# Groups that need a 64-bit (WoW64) prefix; all others run in a 32-bit one.
WIN64_GROUPS = {"wow64"}


def groups_for(arch: str):
    return [g for g in GROUPS if (g in WIN64_GROUPS) == (arch == "win64")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path)
    parser.add_argument("--session", type=Path)
    parser.add_argument("--list", nargs="?", const="win32", choices=("win32", "win64"))
    parser.add_argument("groups", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(groups_for(args.list)))
        return 0
    env = Env(args.build.resolve(), args.session.resolve())
    total_pass = total_fail = 0
    for group in args.groups or groups_for(env.arch):
        print(f"{group}:")
        checks = Checks(group)
        started = time.monotonic()
        try:
            GROUPS[group](env, checks)
        except Exception as error:  # a helper that hangs or dies fails the group
            checks.check(f"{group} ran to the end", False, repr(error))
            env.close()
        print(f"  ({checks.passed} passed, {checks.failed} failed, "
              f"{time.monotonic() - started:.0f} s)")
        total_pass += checks.passed
        total_fail += checks.failed
    env.close()
    print(f"e2e: {total_pass} checks passed, {total_fail} failed")
    return 0 if total_fail == 0 and total_pass > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
