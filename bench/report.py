#!/usr/bin/env python3
"""Writes docs/BENCHMARKS.md from one run's raw results.

report.py --machine m.json --size size.json --reader reader.json
          [--launch launch.tsv | --launch-skipped REASON] --out BENCHMARKS.md"""
import argparse
import json
import statistics

SIZE_GOAL = 7168  # with the manifest and version resource, relocations kept
ALLOWED_DLLS = ["KERNEL32.dll"]
START_GOAL = 0.45
OVERHEAD_GOAL = 0.35  # (kelvor - direct) / (start - direct), to the target's entry
# kelvor starts two processes, so two direct starts are its floor (runs with native
# 32-bit programs measured 1.05 and 1.06); the margin is for noise between medians.
FLOOR_GOAL = 1.2
TIMER_TICK_MS = 15.625  # the default Windows timer period, 64 Hz


def verdict(ok):
    return "met" if ok else "**missed**"


def size_section(size):
    lines = ["## Size", ""]
    exes = size["exes"]
    lines += ["| build | bytes | imports |", "|---|---:|---|"]
    for label, exe in exes.items():
        lines.append(f"| {label} | {exe['bytes']:,} | {', '.join(exe['imports'])} |")
    kelvor = exes["kelvor.exe"]
    ordinary = exes["ordinary CRT build"]
    ok_size = kelvor["bytes"] <= SIZE_GOAL
    ok_dlls = kelvor["imports"] == ALLOWED_DLLS
    lines += [
        "",
        f"Goal: at most {SIZE_GOAL:,} bytes with the manifest and version information, "
        "importing KERNEL32 only. "
        f"Size {verdict(ok_size)}"
        + ("" if ok_size else f" by {kelvor['bytes'] - SIZE_GOAL:,} bytes")
        + f"; imports {verdict(ok_dlls)}. kelvor.exe is "
        f"{kelvor['bytes'] / ordinary['bytes']:.2f} of the ordinary build "
        f"({ordinary['bytes'] / kelvor['bytes']:.1f}x smaller).",
        "",
    ]
    for label, exe in exes.items():
        lines += [
            f"Where the bytes of {label} go (every part starts at and fills a multiple of "
            f"{exe['alignment']} bytes):",
            "",
            "| part | contents | in the file | padding |",
            "|---|---:|---:|---:|",
        ]
        head = exe["headers"]
        lines.append(f"| headers | {head['contents']} | {head['file_bytes']} | {head['padding']} |")
        for s in exe["sections"]:
            lines.append(f"| {s['name']} | {s['contents']} | {s['file_bytes']} | {s['padding']} |")
        padding = head["padding"] + sum(s["padding"] for s in exe["sections"])
        lines += ["", f"Padding in all: {padding:,} of {exe['bytes']:,} bytes.", ""]
        if exe.get("resources"):
            rsrc = next(s["contents"] for s in exe["sections"] if s["name"] == ".rsrc")
            parts = ", ".join(f"{kind} {size:,}" for kind, size in exe["resources"].items())
            lines += [f"Of .rsrc: {parts}; the resource directory and alignment the other "
                      f"{rsrc - sum(exe['resources'].values()):,} bytes.", ""]
    machine_code = [s for s in size.get("object_sections", [])
                    if not s["section"].startswith(".gnu.lto_")]
    if size.get("object_sections") and not machine_code:
        lines += ["kelvor.exe's objects hold LTO bytecode, so their sections give no "
                  "per-function sizes.", ""]
    if machine_code:
        lines += [
            "Largest functions and constants of kelvor.exe's objects, before linking:",
            "",
            "| object | section | bytes |",
            "|---|---|---:|",
        ]
        for s in machine_code[:10]:
            lines.append(f"| {s['object']} | `{s['section']}` | {s['bytes']} |")
        lines.append("")
    return lines


def reader_section(reader):
    medians = {}
    for b in reader["benchmarks"]:
        if b.get("aggregate_name") == "median":
            medians[b["run_name"]] = 1e9 / b["items_per_second"]
    ours = medians["BM_ReadNumber"]
    strtold = medians["BM_Strtold"]
    from_chars = medians["BM_FromCharsDouble"]
    reps = next(b["repetitions"] for b in reader["benchmarks"]
                if b.get("aggregate_name") == "median" and b["run_name"] == "BM_ReadNumber")
    return [
        "## Number reader",
        "",
        "One corpus of 30 field-like texts (plain fields, fields followed by a command line, "
        "fractions, exponents, hexadecimal prefixes, out-of-range values, blanks), read by each "
        f"function in turn; CPU time, median of {reps} interleaved repetitions, "
        "native x86-64 build (`-O3`).",
        "",
        "| reader | ns per field | strtold / reader |",
        "|---|---:|---:|",
        f"| ReadNumber | {ours:.2f} | {strtold / ours:.2f} |",
        f"| glibc strtold | {strtold:.2f} | 1.00 |",
        f"| std::from_chars (double) | {from_chars:.2f} | {strtold / from_chars:.2f} |",
        "",
        f"A run reads three fields: about {3 * ours:.0f} ns, beside process start-ups measured "
        "in milliseconds below, so the reader's speed is reported here without a goal.",
        "",
    ]


def parse_launch(path):
    info, launch, delay, fails = {}, {}, {}, []
    for line in open(path):
        f = line.rstrip("\n").split("\t")
        if f[0] == "info":
            info[f[1]] = float(f[2])
        elif f[0] == "launch":
            launch.setdefault(f[1], []).append(
                {"entry": float(f[3]), "exited": float(f[4]), "ordered": f[5] == "1",
                 "entry_mask": int(f[6])})
        elif f[0] == "delay":
            delay.setdefault(int(f[1]), []).append(
                {"seen": float(f[3]), "entry": float(f[4]), "exited": float(f[5]),
                 "ordered": f[6] == "1", "entry_mask": int(f[7]), "final_mask": int(f[8])})
        elif f[0] == "fail":
            fails.append("\t".join(f[1:]))
    return info, launch, delay, fails


def launch_sections(path, kelvor_size):
    info, launch, delay, fails = parse_launch(path)
    lines = ["## Launch", "",
             f"The kelvor.exe timed here is the one sized above: {kelvor_size['bytes']:,} bytes, "
             f"importing {', '.join(kelvor_size['imports'])}.", ""]
    med = {case: {k: statistics.median(t[k] for t in trials) for k in ("entry", "exited")}
           for case, trials in launch.items()}
    count = {case: len(trials) for case, trials in launch.items()}
    trials = [t for ts in launch.values() for t in ts] + [t for ts in delay.values() for t in ts]
    ordered = sum(t["ordered"] for t in trials)
    lines += [
        "Each round starts, in turn, (a) `kelvor.exe 1 3 0 target`, (b) "
        "`cmd /c start /affinity 1 /normal target` and (c) the target itself, from the harness "
        "with CreateProcessA; two warm-up rounds are not counted. The target has no C runtime "
        "and reads QueryPerformanceCounter at its entry point. Times are milliseconds from the "
        "harness's reading just before CreateProcessA.",
        "",
        f"Shared clock: QueryPerformanceCounter at {info.get('frequency', 0):,.0f} Hz; in "
        f"{ordered} of {len(trials)} trials the target's entry reading fell between the "
        "harness's reading before CreateProcessA and its reading after the target's signal "
        + ("(all: one clock across the processes)." if ordered == len(trials)
           else "(**not all**: readings are not comparable across processes)."),
        "",
        "| case | trials | to target entry: median (min-max) ms | "
        "to launcher exit: median (min-max) ms | target had mask 1 at entry |",
        "|---|---:|---:|---:|---:|",
    ]
    names = {"kelvor": "(a) kelvor, delay 0", "start": "(b) cmd /c start",
             "direct": "(c) target directly (exit = target's own)"}
    for case in ("kelvor", "start", "direct"):
        if case in med:
            spread = {k: (min(t[k] for t in launch[case]), max(t[k] for t in launch[case]))
                      for k in ("entry", "exited")}
            lines.append(
                f"| {names[case]} | {count[case]} | {med[case]['entry']:.2f} "
                f"({spread['entry'][0]:.2f}-{spread['entry'][1]:.2f}) | "
                f"{med[case]['exited']:.2f} "
                f"({spread['exited'][0]:.2f}-{spread['exited'][1]:.2f}) | "
                f"{sum(1 for t in launch[case] if t['entry_mask'] == 1)} of {count[case]} |")
    goal_lines = []
    if all(c in med for c in ("kelvor", "start", "direct")):
        k, s, d = med["kelvor"], med["start"], med["direct"]
        for metric, label in (("entry", "to target entry"), ("exited", "to launcher exit")):
            rs = k[metric] / s[metric]
            rf = k[metric] / (2 * d[metric])
            floor = verdict(rf <= FLOOR_GOAL) if metric == "entry" else "no goal"
            goal_lines.append(
                f"| {label} | {rs:.3f} ({verdict(rs <= START_GOAL)}) | {rf:.3f} ({floor}) |")
    lines += [
        "",
        "Ratios of medians from this run. A direct start creates one process, kelvor two "
        "(itself, then the target), so two direct starts are kelvor's floor. Goals: "
        f"kelvor/start at most {START_GOAL}; to the target's entry, kelvor at most "
        f"{FLOOR_GOAL} of that floor, which leaves room for kelvor's own work before it "
        "starts the target and for the noise between medians of separate starts. kelvor "
        "exits once the target is created, before the target reaches its entry, so its exit "
        "has no such floor and that figure is reported without a goal.",
        "",
        "| measure | kelvor / start | kelvor / (2 x direct) |",
        "|---|---:|---:|",
    ] + goal_lines + [""]
    if "start" in launch and not any(t["entry_mask"] == 1 for t in launch["start"]):
        lines += [
            "With `start /affinity 1` the target never had mask 1 at its entry in this run "
            f"(with kelvor: {sum(t['entry_mask'] == 1 for t in launch.get('kelvor', []))} of "
            f"{len(launch.get('kelvor', []))}): here `start` did not apply the mask when it "
            "created the target.",
            "",
        ]
    if all(c in med for c in ("kelvor", "start", "direct")):
        k, s, d = med["kelvor"]["entry"], med["start"]["entry"], med["direct"]["entry"]
        overhead = (k - d) / (s - d)
        lines += [
            f"What each way adds to a direct start, to the target's entry: kelvor "
            f"{k - d:.2f} ms, `start` {s - d:.2f} ms. Overhead ratio (kelvor - direct) / "
            f"(start - direct): **{overhead:.2f}**; goal at most {OVERHEAD_GOAL}: "
            f"{verdict(overhead <= OVERHEAD_GOAL)}. `cmd /c start` creates at least two "
            "processes (cmd, the target; Wine's cmd hands `start` on to start.exe, a third).",
            "",
        ]

    lines += [
        "## Delay fidelity",
        "",
        "kelvor starts the target with mask 1 requested after each delay; the target spins "
        "reading its own mask and reports the first reading at which it is 1. Times are from "
        "the harness's reading before it started kelvor. Lateness = that time minus the delay.",
        "",
        "Each trial is held against what it measured itself: kelvor sleeps only once it has "
        "started the target, so a trial may be late by its own start-up (the harness's reading "
        f"to the target's entry) plus one timer tick ({TIMER_TICK_MS} ms). Measured Sleep(1) "
        f"here: {info.get('sleep1_ms', float('nan')):.3f} ms.",
        "",
        "| delay (ms) | count | min seen | median seen | max seen | min lateness | "
        "median lateness | max lateness | own start-up: min-max | "
        "lateness beyond own start-up: max | earlier than delay | over own start-up + tick | "
        "mask already set at target entry |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    never_early, within, lost_all = True, True, 0
    for d in sorted(delay):
        ts = delay[d]
        saw = [t for t in ts if t["final_mask"] == 1]
        lost = len(ts) - len(saw)
        lost_all += lost
        if not saw:
            lines.append(f"| {d} | {len(ts)} |" + " - |" * 9 + f" {lost} lost | - |")
            continue
        seen = [t["seen"] for t in saw]
        late = [t["seen"] - d for t in saw]
        beyond = [t["seen"] - d - t["entry"] for t in saw]
        early = sum(1 for x in late if x < 0)
        over = sum(1 for x in beyond if x > TIMER_TICK_MS)
        never_early = never_early and early == 0
        within = within and over == 0
        lines.append(
            f"| {d} | {len(ts)} | {min(seen):.2f} | {statistics.median(seen):.2f} | "
            f"{max(seen):.2f} | {min(late):.2f} | {statistics.median(late):.2f} | "
            f"{max(late):.2f} | {min(t['entry'] for t in saw):.2f}-"
            f"{max(t['entry'] for t in saw):.2f} | {max(beyond):.2f} | {early} | {over}"
            + (f" ({lost} never saw it)" if lost else "")
            + f" | {sum(1 for t in ts if t['entry_mask'] == 1)} |")
    lines += [
        "",
        f"Goal, never early in any trial: {verdict(never_early)}. Goal, every trial's "
        f"lateness within its own start-up plus one tick: {verdict(within and not lost_all)}"
        + (f" ({lost_all} of the trials never saw the mask)" if lost_all else "") + ".",
        "",
        "The column \"mask already set at target entry\" counts trials in which kelvor had set "
        "the mask before the target's first instruction (a delay shorter than the target's own "
        "start-up); the target then sees it at its entry.",
    ]
    lines.append("")
    if fails:
        lines += ["Failed trials:", ""] + [f"- `{f}`" for f in fails] + [""]
    return lines


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--machine", required=True)
    p.add_argument("--size", required=True)
    p.add_argument("--reader", required=True)
    p.add_argument("--launch")
    p.add_argument("--launch-skipped")
    p.add_argument("--out", required=True)
    a = p.parse_args()
    m = json.load(open(a.machine))
    lines = [
        "# Benchmarks",
        "",
        f"Produced by `{m['command']}` on {m['date']}. Every figure below is from that one run; "
        "ratios compare figures measured side by side in it.",
        "",
        "| machine | |",
        "|---|---|",
        f"| processors (`nproc`) | {m['nproc']} |",
        f"| CPU | {m['cpu']} |",
        f"| kernel | {m['kernel']} |",
        f"| Wine | {m['wine']} |",
        f"| 32-bit programs | {m['ia32']} |",
        f"| compilers | {m['compilers']} |",
        f"| load average at the start (1, 5, 15 min) | {m['load']} |",
        "",
    ]
    if float(m["load"].split()[0]) >= 1:
        lines += [
            f"Other work shared the machine (a load of {m['load'].split()[0]} on {m['nproc']} "
            "processors at the start), so absolute times are noisy and the slowest trials "
            "stretch the ranges; the ratios still compare cases measured round by round.",
            "",
        ]
    size = json.load(open(a.size))
    lines += size_section(size)
    lines += reader_section(json.load(open(a.reader)))
    if a.launch:
        lines += launch_sections(a.launch, size["exes"]["kelvor.exe"])
    else:
        lines += ["## Launch and delay fidelity", "", f"Not measured: {a.launch_skipped}", ""]
    open(a.out, "w").write("\n".join(lines))


if __name__ == "__main__":
    main()
