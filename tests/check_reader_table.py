#!/usr/bin/env python3
"""Feeds each text of a reader table to readnum and compares value and end position.

Table lines: escaped text, TAB, expected value, TAB, expected end offset; '#' starts a comment line.
"""
import subprocess
import sys


def main() -> int:
    readnum, table = sys.argv[1], sys.argv[2]
    rows = []
    with open(table, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            text, value, end = line.split("\t")
            rows.append((text, f"{value} {end}"))
    stdin = "".join(text + "\n" for text, _ in rows)
    out = subprocess.run([readnum], input=stdin.encode("latin-1"), capture_output=True, check=True)
    got = out.stdout.decode().splitlines()
    if len(got) != len(rows):
        print(f"readnum printed {len(got)} lines for {len(rows)} texts")
        return 1
    failures = [(text, want, have) for (text, want), have in zip(rows, got) if want != have]
    for text, want, have in failures:
        print(f"{text!r}: expected '{want}', readnum gave '{have}'")
    print(f"{len(rows) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
