#!/usr/bin/env python3
"""Launch and delay trials under Wine, each started and timed by raw_runner.exe
(the e2e suite's runner), with bench_target.exe as the target.

launch_trials.py <folder> <rounds> <delay trials> <out.json>

<folder> holds kelvor.exe, bench_target.exe and raw_runner.exe, in a path without
spaces (the target's path goes into command lines as it is); the Wine session is
this process's environment. Launch rounds start, in turn, kelvor with delay 0,
`cmd /c start` and the target directly; two warm-up rounds are not kept. Delay
trials start kelvor with each delay in turn. Times are milliseconds from the
runner's reading just before it created the process. Exit code 1 when any trial
failed (the others are written all the same).
"""
import json
import os
import struct
import subprocess
import sys
from pathlib import Path

sys.path[:0] = [str(Path(__file__).resolve().parents[2] / "tests" / d) for d in ("", "e2e")]
from e2e import parse_keys, wine_path  # noqa: E402

WARM_UP_ROUNDS = 2
DELAYS = (0, 16, 100, 1000)
WAIT_LIMIT_MS = 90000


def trial(folder: Path, exe: str, command_line: str):
    """One start through the runner: the times the runner and the target read, or
    why there are none."""
    run_file, record_file = folder / "run.txt", folder / "target.bin"
    for stale in (run_file, record_file):
        stale.unlink(missing_ok=True)
    (folder / "cmdline.bin").write_bytes(command_line.encode())
    subprocess.run(["wine", folder / "raw_runner.exe", wine_path(run_file), exe,
                    "@" + wine_path(folder / "cmdline.bin"), str(WAIT_LIMIT_MS)],
                   env=dict(os.environ, KELVOR_BENCH_OUT=wine_path(record_file)),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=2 * WAIT_LIMIT_MS / 1000 + 60)
    run = parse_keys(run_file) or {}
    if run.get("exit_code") is None:
        return f"the started process did not end by itself: {run}"
    record = record_file.read_bytes() if record_file.exists() else b""
    if len(record) != 32:
        return "the target never reported"
    entry, seen, sleep, entry_mask, final_mask = struct.unpack("<qqqii", record)
    frequency, launch = int(run["qpc_frequency"]), int(run["launch_qpc"])
    return {"entry": (entry - launch) * 1000 / frequency,
            "seen": (seen - launch) * 1000 / frequency, "exited": float(run["elapsed_ms"]),
            "ordered": launch <= entry <= int(run["done_qpc"]), "entry_mask": entry_mask,
            "final_mask": final_mask, "sleep1_ms": sleep * 1000 / frequency,
            "frequency": frequency}


def main():
    folder, rounds, delay_trials, out = Path(sys.argv[1]), *map(int, sys.argv[2:4]), sys.argv[4]
    kelvor, target = (wine_path(folder / exe) for exe in ("kelvor.exe", "bench_target.exe"))
    cmd = "C:\\windows\\system32\\cmd.exe"
    cases = {"kelvor": (kelvor, f"kelvor.exe 1 3 0 {target} l"),
             "start": (cmd, f"cmd.exe /c start /affinity 1 /normal {target} l"),
             "direct": (target, f"{target} l")}
    results = {"launch": {c: [] for c in cases}, "delay": {d: [] for d in DELAYS}, "fails": []}
    # (name, exe, command line, the list its times go to: None for a warm-up round)
    runs = [(f"launch {case} round {r}", exe, command_line,
             results["launch"][case] if r >= WARM_UP_ROUNDS else None)
            for r in range(WARM_UP_ROUNDS + rounds) for case, (exe, command_line) in cases.items()]
    runs += [(f"delay {delay} trial {i}", kelvor, f"kelvor.exe 1 3 {delay} {target} w",
              results["delay"][delay]) for i in range(delay_trials) for delay in DELAYS]
    try:
        for name, exe, command_line, times in runs:
            t = trial(folder, exe, command_line)
            if isinstance(t, str):
                results["fails"].append(f"{name}: {t}")
            elif times is not None:
                times.append(t)
    finally:
        Path(out).write_text(json.dumps(results, indent=1))
    return 1 if results["fails"] else 0


if __name__ == "__main__":
    sys.exit(main())
