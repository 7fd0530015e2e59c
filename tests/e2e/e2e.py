#!/usr/bin/env python3
"""End-to-end tests of the real kelvor.exe under Wine; docs/E2E.md tells how to run them.

    e2e.py --build <mingw build dir> --session <session dir> [<group>...]
    e2e.py --list [win32|win64]

A group runs its rows of tests/data/launch_runs.def, then its cases in CODE below, in a
session of tests/e2e/session.sh; without group names, every group of the session's arch.
Exit code 0 when every check passed, 77 when none failed but a group could not run here
(it says why), 1 otherwise.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE.parent), str(HERE.parent / "page")]  # textdata; drive_page
from textdata import facts, limits, macro_rows, priority_classes, unescape  # noqa: E402
from cpu_layouts import (CPU_LAYOUTS, layout_box_rows, layout_caches, layout_line,  # noqa: E402
                         within_layout, write_sysfs)

FACTS = facts()
LIMITS = limits()
PRIORITY_CLASS = priority_classes()  # level -> class; 3 (normal) is what a target inherits
MB_TOPMOST = LIMITS["box_style"]  # the style kelvor gives every box
RUN_LIMIT_MS = 40000  # the runner's limit for kelvor: far below the longest delay
WAITING_MS = 8000  # how long a kelvor that waits the longest delay is watched waiting
SKIPPED = 77  # the exit code of a run with a group that could not run here (CTest's SKIP)


def launch_failed(detail: bytes) -> bytes:
    return FACTS["launch_failed_head"] + detail + FACTS["launch_failed_tail"]


def launch_runs():
    """The rows of tests/data/launch_runs.def with a command line, as dicts (see the
    file's header); command is the name and the argument text joined."""
    runs = []
    for macro, keys in (("KELVOR_REFUSES", "group name arg mask"),
                        ("KELVOR_LAUNCHES", "group name arg mask target delay affinity level")):
        keys = keys.split()
        runs += [{"target": None, **dict(zip(keys, row)), "boxes": list(row[len(keys):])}
                 for row in macro_rows("launch_runs.def", macro)]
    return [dict(run, command=run["name"] + run["arg"]) for run in runs
            if run["name"] != "nullptr"]


RUNS = launch_runs()


def wine_path(path: Path) -> str:
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def is_v6_comctl32(path: str) -> bool:
    """A path of the x86 common-controls 6 comctl32.dll (themed controls) from winsxs."""
    folder, _, name = path.lower().rpartition("\\")
    return (name == "comctl32.dll" and "\\winsxs\\" in folder and folder.rpartition("\\")[2]
            .startswith("x86_microsoft.windows.common-controls_6595b64144ccf1df_6."))


def from_hex(text: str) -> bytes:
    return b"" if text == "-" else bytes.fromhex(text)


def parse_boxes(data: bytes, pid: str):
    """The boxes of process `pid` among the box reader's complete lines in `data`."""
    boxes = []
    for line in data.decode("latin-1").split("\n")[:-1]:
        if not line.startswith("box "):
            continue
        head, text = line.split(" text=", 1)
        fields = dict(f.split("=", 1) for f in head.split(" ")[3:])
        if fields["pid"] == pid:
            boxes.append(dict(text=unescape(text), textw=from_hex(fields["textw"]),
                              clipboard=from_hex(fields["clipboard"]).decode("utf-8"),
                              comctl32=unescape(fields["comctl32"]).decode("utf-8").split("|"),
                              buttons=fields["buttons"]))
    return boxes


def parse_keys(path: Path):
    """The "key value" lines of a result file; none when it is missing."""
    if not path.exists():
        return None
    return dict(line.partition(" ")[::2] for line in path.read_text("latin-1").splitlines())


def parse_probe(path: Path):
    probe = parse_keys(path)
    if probe is None:
        return None
    # (qpc, mask, class) of each change; (mask, class) at start.
    probe["changes"] = [(int(qpc), int(mask, 16), int(klass, 16)) for _, _, qpc, mask, klass in
                        (line.split(" ") for line in path.read_text("latin-1").splitlines()
                         if line.startswith("change "))]
    probe["initial"] = tuple(int(v, 16) for v in probe["initial"].split(" "))
    for key in ("cmdline_hex", "cmdline_w_hex", "cwd_w_hex", "exe_w_hex"):
        probe[key] = from_hex(probe[key])
    return probe


def show(data: bytes) -> str:
    return repr(data)[1:]


class Session:
    """The programs, the Wine session and a scratch directory for the cases."""

    def __init__(self, build: Path, session: Path):
        self.kelvor = build / "kelvor.exe"
        self.kelvor_cpus = build / "kelvor-cpus.exe"
        self.helpers = build / "tests/e2e"
        self.kelvor_no_mask = self.helpers / "kelvor_no_system_mask.exe"
        self.boxes_file = session / "boxes.txt"
        if not self.boxes_file.exists():
            raise SystemExit(f"no box reader in {session}: start it with tests/e2e/session.sh")
        lines = (session / "env").read_text().splitlines()
        self.env = dict(os.environ, **dict(line.split("=", 1) for line in lines))
        for name in ("WINELOADER", "WINESERVER"):
            self.env.pop(name, None)
        self.arch = self.env["WINEARCH"]
        # Each group (one process) gets its own scratch folder.
        self.work = session / "e2e" / f"{int(time.time())}-{os.getpid()}"
        self.work.mkdir(parents=True)
        # Targets: a plain path, and a quoted one with spaces in folder and name.
        self.probe = self.copy("probe.exe", self.work)
        self.spaced_probe = self.copy("probe.exe", self.work / "dir with space", "probe tool.exe")
        self.counter = 0
        self._system_mask = None

    def copy(self, helper: str, folder: Path, name: str = None) -> Path:
        folder.mkdir(exist_ok=True)
        return Path(shutil.copy(self.helpers / helper, folder / (name or helper)))

    def fill(self, text: bytes) -> bytes:
        """A row's text with the words for the probe's paths replaced by them."""
        return text.replace(b"SPACED_TARGET", wine_path(self.spaced_probe).encode()).replace(
            b"TARGET", wine_path(self.probe).encode())

    def system_mask(self) -> int:
        """The system affinity mask as Windows (Wine) reports it, read by the probe."""
        if self._system_mask is None:
            out = self.work / "system-mask.txt"
            start_probed(self, [self.probe], out, 0).wait(timeout=120)
            self._system_mask = int(parse_probe(out)["system_mask"], 16)
        return self._system_mask

    def run(self, raw: bytes, exe: Path = None, timeout_ms: int = RUN_LIMIT_MS,
            unicode: bool = False, within=(), watch_ms: int = None):
        """Runs kelvor with the raw command line `raw` (with `unicode`, UTF-8 that the
        runner passes to CreateProcessW) and returns what every process recorded:
        the runner returns once kelvor and its target have ended. `within` is the
        command that runs Wine (a made-up CPU layout's, within_layout()); `watch_ms` the
        longest a probe watches (one whose starter waits for it)."""
        self.counter += 1
        case = self.work / f"run{self.counter:03d}"
        case.mkdir()
        (case / "cmdline.bin").write_bytes(raw)
        seen = self.boxes_file.stat().st_size
        # Wine's relay trace of kelvor's MessageBoxA calls (the session's RelayInclude).
        env = dict(self.env, KELVOR_PROBE_OUT=wine_path(case / "probe.txt"), WINEDEBUG="+relay")
        if watch_ms is not None:
            env["KELVOR_PROBE_MS"] = str(watch_ms)
        with open(case / "wine.log", "wb") as log:
            subprocess.run([*within, "wine", self.helpers / "raw_runner.exe",
                            wine_path(case / "run.txt"),
                            wine_path(exe or self.kelvor),
                            ("u@" if unicode else "@") + wine_path(case / "cmdline.bin"),
                            str(timeout_ms)], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=log, timeout=timeout_ms / 500 + 60)
        run = parse_keys(case / "run.txt") or {}
        with open(self.boxes_file, "rb") as boxes:
            boxes.seek(seen)
            boxes = parse_boxes(boxes.read(), run.get("pid"))
        styles = re.findall(rb"Call user32\.MessageBoxA\(.*,([0-9a-f]{8})\) ret=",
                            (case / "wine.log").read_bytes())
        return {"boxes": boxes, "styles": [int(s, 16) for s in styles], "run": run,
                "probe": parse_probe(case / "probe.txt"), "dir": case}


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, name: str, ok: bool, detail: str = ""):
        if ok:
            self.passed += 1
            print(f"  ok    {name}")
        else:
            self.failed += 1
            print(f"  FAIL  {name}: {detail}")
        return ok

    def run(self, name: str, r, boxes, started=False, state=None, system_mask=None,
            unicode=False, **expected):
        """Everything a run shows: its boxes, in order and byte for byte (with
        `unicode`, their Unicode texts as UTF-8), each with one OK button and asked
        to stay on top; whether a target started, and then its checks (target());
        and kelvor's exit code 0, or with `started` and no `state`, kelvor still
        waiting when the runner ended it and nothing set."""
        got = [b["textw" if unicode else "text"] for b in r["boxes"]]
        if self.check(f"{name}: {len(boxes)} box(es) with the exact "
                      f"{'Unicode ' if unicode else ''}texts", got == boxes,
                      f"expected {[show(t) for t in boxes]}, got {[show(t) for t in got]} "
                      f"(files in {r['dir']})") and got:
            self.check(f"{name}: every box has one OK button",
                       all(b["buttons"] == "OK" for b in r["boxes"]),
                       str([b["buttons"] for b in r["boxes"]]))
            self.check(f"{name}: every box asked to stay on top (MB_TOPMOST)",
                       len(r["styles"]) == len(got) and all(s & MB_TOPMOST for s in r["styles"]),
                       f"MessageBoxA styles {[hex(s) for s in r['styles']]}")
        probe, jobs = r["probe"], r["run"].get("job_processes")
        if not started:
            # The runner's job counts every process kelvor started.
            self.check(f"{name}: no target started", jobs == "1" and probe is None,
                       f"processes in kelvor's job: {jobs}, probe: {probe}")
        elif self.check(f"{name}: target started once and watched to the end",
                        jobs == "2" and probe is not None and "end" in probe,
                        f"processes in kelvor's job: {jobs}, files in {r['dir']}"):
            self.target(name, probe, state, system_mask, **expected)
        if started and state is None:
            self.check(f"{name}: kelvor still waiting after {WAITING_MS // 1000} s (ended by the "
                       "runner), nothing set", r["run"].get("killed_after_timeout") ==
                       str(WAITING_MS) and probe is not None and probe["changes"] == [],
                       f"run {r['run']}, changes {probe and probe['changes']}")
        else:
            self.check(f"{name}: exit code 0", r["run"].get("exit_code") == "0",
                       f"run result {r['run']} (files in {r['dir']})")

    def target(self, name: str, probe, state=None, system_mask=None, **expected):
        """What a target that ran to its end recorded: each value of `expected` by its key
        (cmdline_hex, cmdline_w_hex, cwd_w_hex, bits) and, given a `state`, its final
        (mask, class) and a system mask of `system_mask`, as kelvor's."""
        for key, want in expected.items():
            self.check(f"{name}: target's {key}", probe[key] == want,
                       f"expected {want!r}, got {probe[key]!r}")
        if state is not None:
            final = probe["changes"][-1][1:] if probe["changes"] else probe["initial"]
            self.check(f"{name}: target ends with mask 0x{state[0]:x} and class "
                       f"0x{state[1]:x}", final == state, "got (0x%x, 0x%x)" % final)
            self.check(f"{name}: target's system mask as kelvor's",
                       int(probe["system_mask"], 16) == system_mask, probe["system_mask"])


def run_row(s: Session, c: Checks, row):
    """One row of the runs table through the real exe."""
    unknown = row["mask"] == "unknown"
    launches = row["target"] is not None and "launch_failed" not in row["boxes"]
    # kelvor would wait the longest delay out: the runner ends it sooner.
    waits = launches and row["delay"] == LIMITS["longest_delay"]
    target = row["target"] and s.fill(row["target"])
    r = s.run(s.fill(row["command"]), exe=s.kelvor_no_mask if unknown else s.kelvor,
              timeout_ms=WAITING_MS if waits else RUN_LIMIT_MS)
    system = s.system_mask() if launches else None
    state = None
    if launches and not waits:
        mask = row["affinity"] & (LIMITS["fallback_mask"] if unknown else system)
        state = (mask, PRIORITY_CLASS[row["level"]])
    c.run(show(row["command"]), r,
          [launch_failed(target) if b == "launch_failed" else FACTS[b] for b in row["boxes"]],
          started=launches, state=state, system_mask=system, cmdline_hex=target)
    return r


# Each group's cases beyond its rows; `results` are the (row, result) of its rows.


def bad_affinity(s: Session, c: Checks, results):
    outside = ~s.system_mask() & 0x7FFFFFFF
    outside &= -outside  # the lowest processor bit the system does not have
    name = f"affinity {outside} (no processor of the system)"
    r = s.run(b"kelvor.exe %d 3 0 " % outside + s.fill(b"TARGET"))
    c.run(name, r, [FACTS["bad_affinity"], FACTS["usage"]])


def launch_failed_long(s: Session, c: Checks, results):
    long_target = b"Z:\\nothing\\" + b"x" * (5000 - 11)
    # The box holds message_capacity - 1 characters: the command line is cut so
    # that the closing quote still fits.
    fits = LIMITS["message_capacity"] - 1 - len(launch_failed(b""))
    c.run("5,000-character target", s.run(b"kelvor.exe 1 3 0 " + long_target),
          [launch_failed(long_target[:fits]), FACTS["usage"]])


def target_command(s: Session, c: Checks, results):
    # A TAB after the delay stays at the front of the target command line. Wine's
    # CreateProcessA does not start a command line that begins with a TAB; then the
    # failure box shows the command line with its TAB.
    name = "TAB after the delay kept at the front"
    rest = b"\t" + s.fill(b"TARGET z")
    r = s.run(b"kelvor.exe 1 3 0 " + rest)
    if r["run"].get("job_processes") == "2":
        print(f"  {name}: Wine started the target")
        c.run(name, r, [], started=True, state=(1 & s.system_mask(), PRIORITY_CLASS[3]),
              system_mask=s.system_mask(), cmdline_hex=rest)
    else:
        print(f"  {name}: Wine's CreateProcessA refused the command line")
        c.run(name, r, [launch_failed(rest), FACTS["usage"]])


def affinity_priority(s: Session, c: Checks, results):
    """The requests made of the machine's own system mask."""
    system = s.system_mask()
    low = system & -system  # the lowest processor the system has
    print(f"  system affinity mask reported by Windows: 0x{system:08x}")
    target = s.fill(b"TARGET")
    for request, level in ((system, 2), (low << 1 | low, 6)):
        r = s.run(b"kelvor.exe %d %d 0 " % (request, level) + target)
        c.run(f"affinity {request}, priority {level}", r, [], started=True,
              state=(request & system, PRIORITY_CLASS[level]), system_mask=system,
              cmdline_hex=target)


def timing(s: Session, c: Checks, results):
    """When the change comes, against kelvor's launch on the same clock."""
    system = s.system_mask()
    for row, r in results:
        probe, delay, name = r["probe"], row["delay"], f"delay {row['delay']}"
        if probe is None:
            continue
        changes, frequency = probe["changes"], int(probe["qpc_frequency"])
        launch = int(r["run"]["launch_qpc"])
        if delay == 0:
            # With no delay kelvor may well set both before the target first looks
            # (a Wine program takes a while to start), so a change need not be seen.
            if changes:
                c.check(f"{name}: change not before kelvor's launch", changes[0][0] >= launch,
                        str(changes[0]))
            continue
        if not c.check(f"{name}: change seen by the target", bool(changes), str(probe)):
            continue
        after_launch_ms = (changes[0][0] - launch) * 1000 / frequency
        print(f"  {name}: change seen {after_launch_ms:.0f} ms after kelvor was launched; "
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
                probe["initial"] == (system, PRIORITY_CLASS[3]), str(probe["initial"]))
        c.check(f"{name}: mask and class each changed once", len(changes) <= 2, str(changes))


def unicode_cases(s: Session, c: Checks, helper: str, bits: int):
    """A Unicode command line: target in a Unicode folder, Unicode arguments; and a
    Unicode target that cannot start, whose box shows it unchanged, themed."""
    system = s.system_mask()
    target = s.copy(helper, s.work / "Łódź 東京")
    name = f"Unicode path and arguments, {bits}-bit target"
    rest = f'"{wine_path(target)}" é Ж 東京 "Łódź"'.encode("utf-8")
    r = s.run(b"kelvor.exe 1 5 0 " + rest, unicode=True)
    c.run(name, r, [], started=True, state=(1 & system, PRIORITY_CLASS[5]), system_mask=system,
          cmdline_w_hex=rest, bits=str(bits))

    name = "Unicode target that cannot start"
    detail = '"Z:\\Łódź 東京\\nope\\app.exe" Ж'.encode("utf-8")
    r = s.run(b"kelvor.exe 1 3 0 " + detail, unicode=True)
    c.run(name, r, [launch_failed(detail), FACTS["usage"]], unicode=True)
    if r["boxes"]:
        # kelvor is 32-bit in either prefix, so its comctl32 is the x86 one.
        loaded = r["boxes"][0]["comctl32"]
        c.check(f"{name}: error box has the common-controls 6 comctl32 (themed)",
                any(is_v6_comctl32(path) for path in loaded), str(loaded))


def wow64(s: Session, c: Checks, results):
    """32-bit kelvor in a 64-bit prefix, starting 64-bit programs."""
    if not c.check("session prefix is 64-bit", s.arch == "win64", f"arch {s.arch}"):
        return
    system = s.system_mask()
    name = "64-bit target"
    rest = wine_path(s.copy("probe64.exe", s.work)).encode() + b" -x"
    r = s.run(b"kelvor.exe 3 4 0 " + rest)
    c.run(name, r, [], started=True, state=(3 & system, PRIORITY_CLASS[4]), system_mask=system,
          cmdline_hex=rest, cmdline_w_hex=rest, bits="64")
    unicode_cases(s, c, "probe64.exe", 64)

    # The command builder's line for a batch program on 64-bit Windows: 32-bit kelvor reaches
    # the 64-bit cmd.exe through Sysnative, which runs the batch file and it the probe.
    name, probe = "batch program through Sysnative's cmd.exe", s.copy("probe64.exe", s.work)
    batch = s.work / "bat dir" / "go.bat"
    batch.parent.mkdir()
    batch.write_bytes(b'@"%s" %%*\r\n' % wine_path(probe).encode())
    r = s.run(b'kelvor.exe 1 4 0 "%s\\Sysnative\\cmd.exe" /d /s /c ""%s" x "y z""' % (
        WINDOWS_FOLDER.encode(), wine_path(batch).encode()), watch_ms=1500)
    c.check(f"{name}: no box, exit code 0", not r["boxes"] and r["run"].get("exit_code") == "0",
            f"{r['boxes']}, {r['run']}")
    # cmd.exe started the probe: it inherits the mask, not the class Above normal.
    check_probed(c, name, r["dir"] / "probe.txt", 0, (1 & system, PRIORITY_CLASS[3]), system,
                 bits="64", cmdline_w_hex=b'"%s" x "y z"' % wine_path(probe).encode())


# The command builder page (src/page/), each case as a user types it: paths under
# the case's scratch folder (folder "" is the program's own), the cpus to tick or a
# quick pick's name, on a CPU of 2 P-cores of 2 threads (cpu0-3) and 2 E-cores.
BUILDER_TOPOLOGY, QUICK_PICKS = (6, 2, 2, 2, 1), {"p": [0, 1, 2, 3], "one-per-core": [0, 2, 4, 5]}
BUILDER_CASES = [
    dict(folder="Program Files (x86)/A&B ^1 !x! 100%", program="Some Game/game.exe", priority=5,
         arguments='-fast "a b" 100% x&y ^c !v! "say \\"hi\\"" %%', cpus=[0], delay=0),
    dict(folder="", program="A & B/game (2).exe", arguments='-w 1920 "save dir\\x" a^b',
         priority=2, cpus="one-per-core", delay=100),
    # Wine's cmd.exe reads a whole .bat in the OEM code page; Windows' reads each line
    # in the console's, so after chcp 65001 as UTF-8.
    dict(folder="", program="Łódź 東京/app (1).exe", arguments='Ж "東京 & x" é', priority=4,
         cpus="one-per-core", delay=250, copied_as_path=True, wine_cmd=False),
    # A batch program runs in cmd.exe (the .bat rows' ^ & | < > are inside quotes, where
    # the page leaves them), which runs the probe with its arguments (%*).
    dict(folder="scripts (1)", program="bat & co/run me.bat", arguments='"a & b" "c^d" x',
         priority=4, cpus="p", delay=0, wine_cmd=False),
    dict(folder="work dir", program="tools/tool.exe", arguments='"open & x | y ^', priority=1,
         cpus=[0, 5], delay=0, wine_cmd=False),
    dict(folder="start here", program="cmd files/go.cmd", arguments='x "y z"', priority=5,
         cpus=[1], delay=0, wine_cmd=False),
    # The PowerShell line's single-quoted strings double ' and the typographic ‘ ’ ‚ ‛.
    dict(folder="it's ‘here’", program="‚Bob’s‛ games/Bob's game.exe", arguments="-n 'a' ‘b’",
         priority=3, cpus=[1, 2], delay=0, wine_cmd=False),
]
# The 32-bit prefix's Windows folder and its cmd.exe, which the page names for a batch program.
WINDOWS_FOLDER = "C:\\windows"
CMD = WINDOWS_FOLDER + "\\System32\\cmd.exe"
# PowerShell's single quotes (about_Quoting_Rules): each opens and closes a string, and two
# in a row inside one stand for one quote.
QUOTE = "['\u2018\u2019\u201a\u201b]"
POWERSHELL_STRING = re.compile(f"{QUOTE}((?:(?!{QUOTE}).|{QUOTE}{{2}})*){QUOTE}")


def powershell_strings(line: str):
    return [re.sub(f"({QUOTE}){QUOTE}", r"\1", m[1]) for m in POWERSHELL_STRING.finditer(line)]


def builder_page(s: Session, c: Checks, kelvor: str):
    """Types each case into the page, in one headless browser, and checks what it
    shows; returns each case's files to run and what its probe must see."""
    import drive_page  # selenium: only Debian's /usr/bin/python3 has it

    downloads = s.work / "downloads"
    downloads.mkdir()
    driver, runs = drive_page.open_page(downloads), []
    try:
        for i, case in enumerate(BUILDER_CASES):
            root, name = s.work / f"builder{i}", f"page, case {i}"
            program = root / case["program"]
            program.parent.mkdir(parents=True)
            (root / case["folder"]).mkdir(parents=True, exist_ok=True)
            path = wine_path(program)
            typed = dict(case, kelvor=kelvor, program=f' "{path}" ' if case.get("copied_as_path")
                         else path, folder=case["folder"] and wine_path(root / case["folder"]))
            if i == 0:
                typed.update(topology=BUILDER_TOPOLOGY, windows_folder=WINDOWS_FOLDER,
                             windows_64=False)
            drive_page.fill(driver, typed)
            got = drive_page.read(driver)
            ticks = QUICK_PICKS[case["cpus"]] if isinstance(case["cpus"], str) else case["cpus"]
            mask, level = sum(1 << cpu for cpu in ticks), case["priority"]
            cmdl = seen = f'"{path}" {case["arguments"]}'
            folder = typed["folder"] or wine_path(program.parent)
            exe, icon = program, f"{path},0"
            if program.suffix in (".bat", ".cmd"):
                program.write_bytes(b'@"%s" %%*\r\n' % wine_path(s.probe).encode())
                cmdl = f'"{CMD}" /d /s /c "{cmdl}"'
                seen = f'"{wine_path(s.probe)}" {case["arguments"]}'
                exe, icon = s.probe, f"{CMD},0"
                # cmd.exe starts the probe: it inherits the mask, and (as CreateProcess
                # does) the class only when Idle or Below normal.
                level = 3 if level > 2 else level
                # A cmd.exe in the start-in folder that must not run instead of Windows' own.
                s.copy("probe.exe", root / case["folder"], "cmd.exe")
            else:
                shutil.copy(s.probe, program)
            arguments = f'{mask} {case["priority"]} {case["delay"]} {cmdl}'
            # Task Scheduler's fields cannot run under Wine: they are the shortcuts'.
            target, warned = f'"{kelvor}" {arguments}', got["outputs"]["shortcut-warnings"]
            # Its one warning here: a Target longer than a shortcut's Properties box holds.
            c.check(f"{name}: warns only of a Target over 259 characters", bool(warned) == (
                len(target) > 259) and (not warned or "259" in warned), f"{len(target)}: {warned}")
            others = [got["outputs"][key] for key in ("task-warnings", "bat-warnings")]
            c.check(f"{name}: no warning for Task Scheduler or the .bat", not any(others),
                    str(others))
            want = {"mask-decimal": str(mask), "mask-hex": f"{mask:X}", "shortcut-target": target,
                    "shortcut-start-in": folder,
                    "task-program": kelvor, "task-arguments": arguments, "task-start-in": folder}
            for key, text in want.items():
                c.check(f"{name}: {key}", got["outputs"][key] == text,
                        f"expected {text!r}, got {got['outputs'][key]!r}")
            strings = powershell_strings(got["outputs"]["powershell-shortcut"])
            shortcut = ["Desktop", f"{program.stem}.lnk", kelvor, arguments, folder, icon]
            c.check(f"{name}: PowerShell line's Desktop, name, target, arguments, folder and icon",
                    strings == shortcut, f"expected {shortcut}, got {strings}")
            bat, (file, data) = got["outputs"]["bat"], drive_page.download_bat(driver, downloads)
            c.check(f"{name}: downloaded .bat is the one shown, UTF-8 with CRLF line ends",
                    file == f"kelvor-{program.stem}.bat" and data == bat.encode() and
                    data.count(b"\n") == data.count(b"\r\n"), f"{file}: {data!r}")
            (root / "kelvor.bat").write_bytes(data)
            # What runs is what the page showed: its Target and Start in, its PowerShell strings.
            runs.append(dict(case, root=root, target=got["outputs"]["shortcut-target"],
                             start_in=got["outputs"]["shortcut-start-in"], shortcut=strings[1:],
                             folder=folder, exe=wine_path(exe), seen=seen.encode(),
                             state=(mask, PRIORITY_CLASS[level])))
        urls = drive_page.requests_made(driver)
        c.check("page requested nothing but its own file:// document (and its .bat blobs)", all(
            url == drive_page.PAGE.as_uri() or url.startswith("blob:") for url in urls), str(urls))
    finally:
        driver.quit()
    return runs


def start_probed(s: Session, command, result: Path, watch_ms: int, within=()):
    """Starts `command` under Wine (`within` a layout) with the probe recording to `result`."""
    return subprocess.Popen([*within, "wine", *command], env=dict(
        s.env, KELVOR_PROBE_OUT=wine_path(result), KELVOR_PROBE_MS=str(watch_ms)),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def check_probed(c: Checks, name: str, result: Path, deadline: float, *state, **expected):
    """A started probe's record once it has its end line (kelvor runs detached), through
    Checks.target."""
    while "end" not in (parse_keys(result) or {}) and time.monotonic() < deadline:
        time.sleep(0.05)
    if c.check(f"{name}: probe ran to its end", "end" in (parse_keys(result) or {}), str(result)):
        c.target(name, parse_probe(result), *state, **expected)


def builder(s: Session, c: Checks, results):
    """The page's outputs run: each .bat by Wine's cmd.exe, each shortcut made from its
    Target and Start in through IShellLinkW, and each made by its PowerShell line's strings
    through WScript.Shell, opened by Wine's start; a cmd.exe in kelvor's folder and in a
    batch program's start-in folder must not run."""
    system, folder = s.system_mask(), s.work / "kelvor & co (x86)"
    folder.mkdir()
    s.copy("probe.exe", folder, "cmd.exe")
    runs = builder_page(s, c, wine_path(shutil.copy(s.kelvor, folder)))
    made = subprocess.run(["wine", s.helpers / "make_lnk.exe"] + [text for r in runs for text in (
        wine_path(r["root"] / "kelvor.lnk"), r["target"], r["start_in"])],
        env=dict(s.env, LC_ALL="C.UTF-8"), stdin=subprocess.DEVNULL, capture_output=True,
        timeout=120)
    c.check("shortcuts saved through IShellLinkW", made.returncode == 0, str(made.stderr))
    # In the case's folder: a Wine prefix's Desktop is the Linux home folder.
    values = s.work / "shell-shortcuts.txt"
    values.write_text("".join(f"{text}\r\n" for r in runs for text in [
        wine_path(r["root"] / r["shortcut"][0]), *r["shortcut"][1:]]), "utf-16")
    made = subprocess.run(["wine", "cscript", "//nologo", wine_path(HERE / "shell_shortcut.js"),
                           wine_path(values)], env=s.env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=120)
    c.check("shortcuts saved through WScript.Shell by Wine's script host",
            made.stdout.split() == [str(i) for i in range(len(runs))],
            f"{made.returncode}: {made.stdout} {made.stderr}")
    # Windows' start passes the parameters on as written; Wine's start splits and
    # re-quotes them. The .bat of a row with wine_cmd=False does not run under Wine.
    runs = [(r, kind) for r in runs for kind in ("bat", "lnk", "ps") if kind != "bat" or
            r.get("wine_cmd", True)]
    seen_boxes = s.boxes_file.stat().st_size
    # All at once: each run has its own files. A .bat target's probe waits for its cmd.exe,
    # which waits for it: a short watch.
    started = [start_probed(s, [*(["cmd", "/c"] if kind == "bat" else ["start"]), wine_path(
        r["root"] / {"bat": "kelvor.bat", "lnk": "kelvor.lnk", "ps": r["shortcut"][0]}[kind])],
        r["root"] / f"{kind}.txt", r["delay"] + 1500) for r, kind in runs]
    for process in started:
        process.wait(timeout=120)
    deadline = time.monotonic() + 30
    for r, kind in runs:
        # The probe's own path: not a cmd.exe planted in kelvor's or the start-in folder.
        check_probed(c, f"{r['program']} through the {kind}", r["root"] / f"{kind}.txt",
                     deadline, (r["state"][0] & system, r["state"][1]), system,
                     cmdline_w_hex=r["seen"], cwd_w_hex=r["folder"].encode(),
                     exe_w_hex=r["exe"].encode())
    with open(s.boxes_file, "rb") as boxes:
        c.check("kelvor showed no box", b"box " not in boxes.read()[seen_boxes:], str(s.boxes_file))


class Skipped(Exception):
    """A group that cannot run on this machine; the reason."""


# What the chain from Windows' answer to the applied mask picks on each layout's page: a quick
# pick's name or the CPUs to tick, and kelvor's priority.
CPU_LAYOUT_PICKS = [("one-per-core", 4), ([4, 5, 6, 7], 5)]


def enter_layout(root: Path):
    """The command words that run a command within `root`'s layout; Skipped when this machine
    cannot make the namespace (no CAP_SYS_ADMIN, unshare refused)."""
    within = within_layout(root)
    try:
        seen = subprocess.run([*within, "cat", "/sys/devices/system/cpu/online"],
                              capture_output=True, text=True, timeout=30)
    except OSError as error:
        raise Skipped(f"no private mount namespace: {error}")
    if seen.stdout != (root / "cpu/online").read_text():
        raise Skipped("no private mount namespace over /sys/devices/system: "
                      f"{seen.stderr.strip() or seen.stdout.strip()}")
    return within


def layout_read(s: Session, c: Checks, name: str, layout, within):
    """kelvor-cpus.exe within the layout: its one box shows the layout's counts, caches and
    masks and ends with its line, which it put on the clipboard before showing the box."""
    r, line = s.run(b"kelvor-cpus.exe", exe=s.kelvor_cpus, within=within), layout_line(layout)
    box = r["boxes"][0]["textw"].decode("utf-8").splitlines() if r["boxes"] else []
    print("\n".join("    | " + text for text in box))
    c.check(f"{name}: one box with one OK button", len(r["boxes"]) == 1 and
            r["boxes"][0]["buttons"] == "OK", f"{r['boxes']} (files in {r['dir']})")
    c.check(f"{name}: box ends with the layout's line", box[-1:] == [line], f"expected {line}")
    missing = [row for row in layout_box_rows(layout) if row not in box]
    c.check(f"{name}: box's counts, caches and masks", not missing, f"missing {missing}")
    pasted = r["boxes"][0]["clipboard"] if r["boxes"] else ""
    c.check(f"{name}: the clipboard holds the line", pasted == line, pasted)
    c.check(f"{name}: exit code 0", r["run"].get("exit_code") == "0", str(r["run"]))
    return pasted


def layout_chain(s: Session, c: Checks, name: str, layout, root: Path, driver, pasted: str,
                 pick):
    """The pasted line in the page: its tiles are the layout's CPUs, cores and caches; a pick
    of them and the page's .bat, run within the layout in `root`, has kelvor set its mask on
    the probe."""
    import drive_page

    cpus, priority = pick
    drive_page.fill(driver, {"layout": pasted, "cpus": cpus, "priority": priority, "delay": 0,
                             "kelvor": wine_path(s.kelvor), "program": wine_path(s.spaced_probe),
                             "arguments": "", "folder": ""})
    got = drive_page.read(driver)
    tiles, count = got["tiles"], sum(len(core) for core in layout["cores"])
    def groups(key):
        return sorted(sorted(t["cpu"] for t in tiles if t[key] == value)
                      for value in {t[key] for t in tiles})
    # The core groups cover every CPU once: a tile per CPU.
    c.check(f"{name}: page's cores are the layout's", groups("core") ==
            sorted(sorted(core) for core in layout["cores"]), str(groups("core")))
    c.check(f"{name}: page's cache groups are the layout's", groups("cache") ==
            sorted(cpus for _, _, _, cpus in layout_caches(layout)), str(groups("cache")))
    c.check(f"{name}: page shows one kind of core", {t["kind"] for t in tiles} == {""},
            str({t["kind"] for t in tiles}))
    ticks = [min(core) for core in layout["cores"]] if cpus == "one-per-core" else cpus
    mask = sum(1 << cpu for cpu in ticks)
    c.check(f"{name}: page ticks {ticks}, mask {mask}", got["ticked"] == sorted(ticks) and
            got["outputs"]["mask-decimal"] == str(mask),
            f"{got['ticked']}, {got['outputs']['mask-decimal']}")
    bat, result = root / "kelvor.bat", root / "probe.txt"
    bat.write_bytes(drive_page.download_bat(driver, s.work / "layout downloads")[1])
    start_probed(s, ["cmd", "/c", wine_path(bat)], result, 1500, within_layout(root)).wait(
        timeout=120)
    check_probed(c, f"{name}: through the page's .bat", result, time.monotonic() + 30,
                 (mask, PRIORITY_CLASS[priority]), (1 << count) - 1,
                 cmdline_w_hex=f'"{wine_path(s.spaced_probe)}"'.encode())


def cpus(s: Session, c: Checks, results):
    """kelvor-cpus.exe over each made-up layout, in a private mount namespace where Wine reads
    it, and the chain from its line through the page to the mask kelvor sets."""
    import drive_page  # selenium: only Debian's /usr/bin/python3 has it

    (s.work / "layout downloads").mkdir()
    driver = drive_page.open_page(s.work / "layout downloads")
    try:
        for number, (name, layout) in enumerate(CPU_LAYOUTS.items()):
            root = s.work / f"layout{number}"
            write_sysfs(layout, root)
            within = enter_layout(root)
            print(f"  layout: {name}")
            pasted = layout_read(s, c, name, layout, within)
            layout_chain(s, c, name, layout, root, driver, pasted, CPU_LAYOUT_PICKS[number])
    finally:
        driver.quit()


CODE = {"bad_affinity": bad_affinity, "launch_failed": launch_failed_long,
        "target_command": target_command, "affinity_priority": affinity_priority,
        "timing": timing, "unicode": lambda s, c, _: unicode_cases(s, c, "probe.exe", 32),
        "wow64": wow64, "builder": builder, "cpus": cpus}
GROUPS = list(dict.fromkeys([row["group"] for row in RUNS if row["group"] != "unit"] +
                            list(CODE)))
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
    s = Session(args.build.resolve(), args.session.resolve())
    checks, skipped = Checks(), []
    for group in args.groups or groups_for(s.arch):
        print(f"{group}:")
        started, failed = time.monotonic(), checks.failed
        try:
            results = [(row, run_row(s, checks, row)) for row in RUNS if row["group"] == group]
            if group in CODE:
                CODE[group](s, checks, results)
        except Skipped as reason:
            print(f"  SKIPPED: {reason}")
            skipped.append(group)
        except Exception as error:  # a helper that hangs or dies fails the group
            checks.check(f"{group} ran to the end", False, repr(error))
        print(f"  ({checks.failed - failed} failed, {time.monotonic() - started:.1f} s)")
    print(f"e2e: {checks.passed} checks passed, {checks.failed} failed" +
          (f", skipped: {' '.join(skipped)}" if skipped else ""))
    if checks.failed or not (checks.passed or skipped):
        return 1
    return SKIPPED if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
