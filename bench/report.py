#!/usr/bin/env python3
"""Writes docs/BENCHMARKS.md from one run's raw results.

report.py --machine m.json --size size.json --reader reader.json
          [--launch launch.tsv | --launch-skipped REASON] --out BENCHMARKS.md"""
import argparse
import json
import statistics

SIZE_GOAL = 6144  # with the manifest and version resource, relocations kept
ALLOWED_DLLS = ["KERNEL32.dll"]
READER_GOAL = 5.0
START_GOAL = 0.45
OVERHEAD_GOAL = 0.35  # (kelvor - direct) / (start - direct), to the target's entry
DIRECT_GOAL = 1.2
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
        f"Goal: at most {SIZE_GOAL:,} bytes, importing KERNEL32 only. "
        f"Size {verdict(ok_size)}"
        + ("" if ok_size else f" by {kelvor['bytes'] - SIZE_GOAL:,} bytes")
        + f"; imports {verdict(ok_dlls)}. kelvor.exe is "
        f"{kelvor['bytes'] / ordinary['bytes']:.2f} of the ordinary build "
        f"({ordinary['bytes'] / kelvor['bytes']:.1f}x smaller).",
        "",
    ]
    for label, exe in exes.items():
        lines += [
            f"Where the bytes of {label} go (file alignment {exe['file_alignment']}):",
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
    ratio = strtold / ours
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
        f"Goal: ReadNumber at least {READER_GOAL:.0f}x faster than strtold. "
        f"Measured {ratio:.2f}x: {verdict(ratio >= READER_GOAL)}"
        + ("" if ratio >= READER_GOAL else
           f" (it would need {ours - strtold / READER_GOAL:.2f} ns less per field)")
        + f". ReadNumber / from_chars: {ours / from_chars:.2f}.",
        "",
        f"A run reads three fields: about {3 * ours:.0f} ns, beside process start-ups measured "
        "in milliseconds below.",
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
            rd = k[metric] / d[metric]
            goal_lines.append(
                f"| {label} | {rs:.3f} ({verdict(rs <= START_GOAL)}) | "
                f"{rd:.3f} ({verdict(rd <= DIRECT_GOAL)}) |")
    lines += [
        "",
        f"Ratios of medians from this run; goals: kelvor/start at most {START_GOAL}, "
        f"kelvor/direct at most {DIRECT_GOAL}.",
        "",
        "| measure | kelvor / start | kelvor / direct |",
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
            f"{verdict(overhead <= OVERHEAD_GOAL)}. A direct start creates one process; kelvor creates two (itself, "
            "then the target) and `cmd /c start` at least two (cmd, the target; Wine's cmd hands "
            "`start` on to start.exe, a third), so kelvor/direct "
            "cannot come near 1 while each process start costs as much as it does here.",
            "",
        ]

    startup = med.get("kelvor", {}).get("entry")
    slowest = max((t["entry"] for t in launch.get("kelvor", [])), default=None)
    lines += [
        "## Delay fidelity",
        "",
        "kelvor starts the target with mask 1 requested after each delay; the target spins "
        "reading its own mask and reports the first reading at which it is 1. Times are from "
        "the harness's reading before it started kelvor. Lateness = that time minus the delay.",
        "",
        f"Allowance for lateness: kelvor's start-up to the target's entry (median of case a, "
        f"{startup:.2f} ms) plus one timer tick ({TIMER_TICK_MS} ms) = "
        f"{startup + TIMER_TICK_MS:.2f} ms. Measured Sleep(1) here: "
        f"{info.get('sleep1_ms', float('nan')):.3f} ms."
        if startup is not None else "No case (a) figures, so no allowance.",
        "",
        "| delay (ms) | count | min seen | median seen | max seen | min lateness | "
        "median lateness | max lateness | earlier than delay | over allowance | "
        "over slowest start-up + tick | mask already set at target entry |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    all_ok = True
    for d in sorted(delay):
        ts = delay[d]
        seen = [t["seen"] for t in ts if t["final_mask"] == 1]
        lost = len(ts) - len(seen)
        if not seen:
            lines.append(f"| {d} | {len(ts)} | - | - | - | - | - | - | - | {lost} lost | - | - |")
            all_ok = False
            continue
        late = [s - d for s in seen]
        early = sum(1 for x in late if x < 0)
        over = sum(1 for x in late if startup is not None and x > startup + TIMER_TICK_MS)
        over_slowest = sum(1 for x in late
                           if slowest is not None and x > slowest + TIMER_TICK_MS)
        all_ok = all_ok and early == 0 and over == 0 and lost == 0
        lines.append(
            f"| {d} | {len(ts)} | {min(seen):.2f} | {statistics.median(seen):.2f} | "
            f"{max(seen):.2f} | {min(late):.2f} | {statistics.median(late):.2f} | "
            f"{max(late):.2f} | {early} | {over}" + (f" ({lost} never saw it)" if lost else "")
            + f" | {over_slowest} | {sum(1 for t in ts if t['entry_mask'] == 1)} |")
    lines += ["", f"Goal (never early; lateness within the allowance): {verdict(all_ok)}."]
    if slowest is not None:
        lines += [
            "",
            f"kelvor's start-up itself ranged from "
            f"{min(t['entry'] for t in launch['kelvor']):.2f} to {slowest:.2f} ms in case (a); "
            "the column \"over slowest start-up + tick\" holds each trial against the slowest "
            "of those instead of the median. The column \"mask already set at target entry\" "
            "counts trials in which kelvor had set the mask before "
            "the target's first instruction (a delay shorter than the target's own start-up); "
            "the target then sees it at its entry.",
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
