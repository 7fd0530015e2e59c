#!/usr/bin/python3
"""Writes docs/BENCHMARKS.md from one run: the sizes from the exes themselves (read
with pefile, as the exe check reads them), the reader's Google Benchmark JSON and the
launch trials' JSON.

report.py --exe kelvor.exe --crt-exe kelvor_crt.exe --reader reader.json
          [--launch launch.json | --launch-skipped REASON] --machine KEY=VALUE...
          --out BENCHMARKS.md"""
import argparse
import json
import math
import statistics
import sys
import time
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests"))
from check_exe import SIZE_LIMIT, imports, resources  # noqa: E402  (the exe check's own)

RESOURCE_KINDS = {24: "manifest", 16: "version information"}
START_GOAL = 0.45
OVERHEAD_GOAL = 0.35  # (kelvor - direct) / (start - direct), to the target's entry
# kelvor starts two processes, so two direct starts are its floor (runs with native
# 32-bit programs measured 1.05 and 1.06); the margin is for noise between medians.
FLOOR_GOAL = 1.2
TIMER_TICK_MS = 15.625  # the default Windows timer period, 64 Hz
MACHINE = {"processors (`nproc`)": "nproc", "CPU": "cpu", "kernel": "kernel", "Wine": "wine",
           "32-bit programs": "ia32", "compilers": "compilers",
           "load average at the start (1, 5, 15 min)": "load"}
CASES = {"kelvor": "(a) kelvor, delay 0", "start": "(b) cmd /c start",
         "direct": "(c) target directly (exit = target's own)"}


def verdict(ok):
    return "met" if ok else "**missed**"


def table(head, align, rows):
    """A Markdown table: head cells joined by " | ", one alignment per column."""
    return "\n".join([f"| {head} |", "|" + "|".join(align) + "|"] +
                     [f"| {' | '.join(str(c) for c in row)} |" for row in rows])


def layout(label, pe):
    """Where the bytes of the exe go: headers, each section's contents and the padding
    up to the file alignment, and what its resources take."""
    placed = [s for s in pe.sections if s.SizeOfRawData]
    headers = min(s.PointerToRawData for s in placed)
    # The headers end with the section table; zeros after it are padding.
    parts = [("headers", len(pe.__data__[:headers].rstrip(b"\0")), headers)] + [
        (s.Name.rstrip(b"\0").decode("ascii", "replace"),
         min(s.Misc_VirtualSize, s.SizeOfRawData), s.SizeOfRawData) for s in pe.sections]
    # Every part of the file starts at, and fills, a multiple of this.
    alignment = math.gcd(headers, *(n for s in placed for n in (s.SizeOfRawData,
                                                                s.PointerToRawData)))
    blocks = [f"Where the bytes of {label} go (every part starts at and fills a multiple of "
              f"{alignment} bytes):",
              table("part | contents | in the file | padding", ["---"] + ["---:"] * 3,
                    [(name, used, raw, raw - used) for name, used, raw in parts]),
              f"Padding in all: {sum(raw - used for _, used, raw in parts):,} of "
              f"{len(pe.__data__):,} bytes."]
    kinds = {RESOURCE_KINDS.get(key[0], f"type {key[0]}"): len(value)
             for key, value in resources(pe).items()}
    if kinds:
        rsrc = next(used for name, used, _ in parts if name == ".rsrc")
        listed = ", ".join(f"{kind} {size:,}" for kind, size in kinds.items())
        blocks.append(f"Of .rsrc: {listed}; the resource directory and alignment the other "
                      f"{rsrc - sum(kinds.values()):,} bytes.")
    return blocks


def size_section(exes):
    dlls = {label: sorted(imports(pe)) for label, pe in exes.items()}
    size = {label: len(pe.__data__) for label, pe in exes.items()}
    kelvor, ordinary = size["kelvor.exe"], size["ordinary CRT build"]
    return [
        "## Size",
        table("build | bytes | imports", ["---", "---:", "---"],
              [(label, f"{size[label]:,}", ", ".join(dlls[label])) for label in exes]),
        f"Goal: at most {SIZE_LIMIT:,} bytes with the manifest and version information (the "
        "limit the exe check holds the GCC build to), importing KERNEL32 only. "
        f"Size {verdict(kelvor <= SIZE_LIMIT)}"
        + ("" if kelvor <= SIZE_LIMIT else f" by {kelvor - SIZE_LIMIT:,} bytes")
        + f"; imports {verdict(dlls['kelvor.exe'] == ['KERNEL32.dll'])}. kelvor.exe is "
        f"{kelvor / ordinary:.2f} of the ordinary build ({ordinary / kelvor:.1f}x smaller).",
    ] + [block for label, pe in exes.items() for block in layout(label, pe)]


def reader_section(reader):
    medians = {b["run_name"]: b for b in reader["benchmarks"] if b.get("aggregate_name") ==
               "median"}
    ours, strtold, from_chars = (1e9 / medians[name]["items_per_second"] for name in
                                 ("BM_ReadNumber", "BM_Strtold", "BM_FromCharsDouble"))
    return [
        "## Number reader",
        "One corpus of 30 field-like texts (plain fields, fields followed by a command line, "
        "fractions, exponents, hexadecimal prefixes, out-of-range values, blanks), read by each "
        f"function in turn; CPU time, median of {medians['BM_ReadNumber']['repetitions']} "
        "interleaved repetitions, native x86-64 build (`-O3`).",
        table("reader | ns per field | strtold / reader", ["---", "---:", "---:"],
              [("ReadNumber", f"{ours:.2f}", f"{strtold / ours:.2f}"),
               ("glibc strtold", f"{strtold:.2f}", "1.00"),
               ("std::from_chars (double)", f"{from_chars:.2f}", f"{strtold / from_chars:.2f}")]),
        f"A run reads three fields: about {3 * ours:.0f} ns, beside process start-ups measured "
        "in milliseconds below, so the reader's speed is reported here without a goal.",
    ]


def mask_at_entry(trials):
    return sum(t["entry_mask"] == 1 for t in trials)


def spread(values):
    return f"{min(values):.2f}-{max(values):.2f}"


def launch_section(launch, size, dlls, trials):
    ordered = sum(t["ordered"] for t in trials)
    med = {case: {k: statistics.median(t[k] for t in ts) for k in ("entry", "exited")}
           for case, ts in launch.items()}
    rows = [[CASES[case], len(ts)] + [f"{med[case][k]:.2f} ({spread([t[k] for t in ts])})" for k in
                                      ("entry", "exited")] + [f"{mask_at_entry(ts)} of {len(ts)}"]
            for case, ts in launch.items()]
    ratios = []
    if all(c in med for c in CASES):
        k, s, d = med["kelvor"], med["start"], med["direct"]
        for metric, label in (("entry", "to target entry"), ("exited", "to launcher exit")):
            rs, rf = k[metric] / s[metric], k[metric] / (2 * d[metric])
            floor = verdict(rf <= FLOOR_GOAL) if metric == "entry" else "no goal"
            ratios.append((label, f"{rs:.3f} ({verdict(rs <= START_GOAL)})", f"{rf:.3f} ({floor})"))
    blocks = [
        "## Launch",
        f"The kelvor.exe timed here is the one sized above: {size:,} bytes, importing "
        f"{', '.join(dlls)}.",
        "Each round starts, in turn, (a) `kelvor.exe 1 3 0 target`, (b) `cmd /c start /affinity "
        "1 /normal target` and (c) the target itself, each from raw_runner.exe (the e2e suite's "
        "runner) with CreateProcessA; two warm-up rounds are not counted. The target has no C "
        "runtime and reads QueryPerformanceCounter at its entry point. Times are milliseconds "
        "from the runner's reading just before CreateProcessA.",
        f"Shared clock: QueryPerformanceCounter at {trials[0]['frequency'] if trials else 0:,.0f}"
        f" Hz; in {ordered} of {len(trials)} trials the target's entry reading fell between the "
        "runner's reading before CreateProcessA and its reading once the run's processes had "
        "ended " + ("(all: one clock across the processes)." if ordered == len(trials)
                    else "(**not all**: readings are not comparable across processes)."),
        table("case | trials | to target entry: median (min-max) ms | to launcher exit: median "
              "(min-max) ms | target had mask 1 at entry", ["---"] + ["---:"] * 4, rows),
        "Ratios of medians from this run. A direct start creates one process, kelvor two (itself, "
        "then the target), so two direct starts are kelvor's floor. Goals: kelvor/start at most "
        f"{START_GOAL}; to the target's entry, kelvor at most {FLOOR_GOAL} of that floor, which "
        "leaves room for kelvor's own work before it starts the target and for the noise between "
        "medians of separate starts. kelvor exits once the target is created, before the target "
        "reaches its entry, so its exit has no such floor and that figure is reported without a "
        "goal.",
        table("measure | kelvor / start | kelvor / (2 x direct)", ["---", "---:", "---:"], ratios),
    ]
    if "start" in launch and not mask_at_entry(launch["start"]):
        blocks.append(
            "With `start /affinity 1` the target never had mask 1 at its entry in this run (with "
            f"kelvor: {mask_at_entry(launch.get('kelvor', []))} of {len(launch.get('kelvor', []))}"
            "): here `start` did not apply the mask when it created the target.")
    if ratios:
        k, s, d = med["kelvor"]["entry"], med["start"]["entry"], med["direct"]["entry"]
        overhead = (k - d) / (s - d)
        blocks.append(
            f"What each way adds to a direct start, to the target's entry: kelvor {k - d:.2f} ms, "
            f"`start` {s - d:.2f} ms. Overhead ratio (kelvor - direct) / (start - direct): "
            f"**{overhead:.2f}**; goal at most {OVERHEAD_GOAL}: "
            f"{verdict(overhead <= OVERHEAD_GOAL)}. `cmd /c start` creates at least two processes "
            "(cmd, the target; Wine's cmd hands `start` on to start.exe, a third).")
    return blocks


def delay_section(delay):
    rows, early, over, lost = [], 0, 0, 0
    for d, ts in sorted(delay.items()):
        saw = [t for t in ts if t["final_mask"] == 1]
        missed = len(ts) - len(saw)
        lost += missed
        if not saw:
            rows.append([d, len(ts)] + ["-"] * 9 + [f"{missed} lost", "-"])
            continue
        seen = [t["seen"] for t in saw]
        late = [x - d for x in seen]
        beyond = [x - t["entry"] for x, t in zip(late, saw)]
        early_here, over_here = sum(x < 0 for x in late), sum(x > TIMER_TICK_MS for x in beyond)
        early, over = early + early_here, over + over_here
        rows.append([d, len(ts)] + [f"{f(xs):.2f}" for xs in (seen, late)
                                    for f in (min, statistics.median, max)] +
                    [spread([t["entry"] for t in saw]), f"{max(beyond):.2f}", early_here,
                     f"{over_here}" + (f" ({missed} never saw it)" if missed else ""),
                     mask_at_entry(ts)])
    sleep1 = min((t["sleep1_ms"] for ts in delay.values() for t in ts), default=math.nan)
    return [
        "## Delay fidelity",
        "kelvor starts the target with mask 1 requested after each delay; the target spins "
        "reading its own mask and reports the first reading at which it is 1. Times are from "
        "the runner's reading before it started kelvor. Lateness = that time minus the delay.",
        "Each trial is held against what it measured itself: kelvor sleeps only once it has "
        "started the target, so a trial may be late by its own start-up (the runner's reading "
        f"to the target's entry) plus one timer tick ({TIMER_TICK_MS} ms). Measured Sleep(1) "
        f"here (the target's shortest): {sleep1:.3f} ms.",
        table("delay (ms) | count | min seen | median seen | max seen | min lateness | median "
              "lateness | max lateness | own start-up: min-max | lateness beyond own start-up: "
              "max | earlier than delay | over own start-up + tick | mask already set at target "
              "entry", ["---:"] * 13, rows),
        f"Goal, never early in any trial: {verdict(not early)}. Goal, every trial's lateness "
        f"within its own start-up plus one tick: {verdict(not over and not lost)}"
        + (f" ({lost} of the trials never saw the mask)" if lost else "") + ".",
        "The column \"mask already set at target entry\" counts trials in which kelvor had set "
        "the mask before the target's first instruction (a delay shorter than the target's own "
        "start-up); the target then sees it at its entry.",
    ]


def main():
    p = argparse.ArgumentParser()
    for option in ("--exe", "--crt-exe", "--reader", "--out"):
        p.add_argument(option, required=True)
    measured = p.add_mutually_exclusive_group(required=True)
    measured.add_argument("--launch")
    measured.add_argument("--launch-skipped")
    p.add_argument("--machine", nargs="+", required=True, metavar="KEY=VALUE")
    a = p.parse_args()
    m = dict(item.split("=", 1) for item in a.machine)
    load = m["load"].split()[0]
    blocks = [
        "# Benchmarks",
        f"Produced by `scripts/bench.sh` on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}."
        " Every figure below is from that one run; ratios compare figures measured side by "
        "side in it.",
        table("machine |", ["---", "---"], [(label, m[key]) for label, key in MACHINE.items()]),
    ]
    if float(load) >= 1:
        blocks.append(
            f"Other work shared the machine (a load of {load} on {m['nproc']} processors at "
            "the start), so absolute times are noisy and the slowest trials stretch the "
            "ranges; the ratios still compare cases measured round by round.")
    exes = {label: pefile.PE(data=Path(path).read_bytes())
            for label, path in (("kelvor.exe", a.exe), ("ordinary CRT build", a.crt_exe))}
    blocks += size_section(exes) + reader_section(json.loads(Path(a.reader).read_text()))
    if a.launch:
        results = json.loads(Path(a.launch).read_text())
        launch = {case: results["launch"][case] for case in CASES if results["launch"].get(case)}
        delay = {int(d): ts for d, ts in results["delay"].items() if ts}
        trials = [t for ts in (*launch.values(), *delay.values()) for t in ts]
        kelvor = exes["kelvor.exe"]
        blocks += launch_section(launch, len(kelvor.__data__), sorted(imports(kelvor)), trials)
        blocks += delay_section(delay)
        if results["fails"]:
            blocks += ["Failed trials:", "\n".join(f"- `{f}`" for f in results["fails"])]
    else:
        blocks += ["## Launch and delay fidelity", f"Not measured: {a.launch_skipped}"]
    Path(a.out).write_text("\n\n".join(blocks) + "\n")


if __name__ == "__main__":
    main()
