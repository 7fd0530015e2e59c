#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ from the tests' data files.

Run from anywhere; it rewrites fuzz/corpus/<input>/ completely. The inputs follow
each target's layout (see the comment above each LLVMFuzzerTestOneInput).
"""
import hashlib
import pathlib
import shutil
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"
sys.path[:0] = [str(ROOT / "tests"), str(ROOT / "tests" / "e2e")]
from e2e import RUNS  # noqa: E402  (the rows of tests/data/launch_runs.def)
from textdata import DATA, priority_classes, table_rows, unescape  # noqa: E402


def write(corpus: str, inputs: list[bytes]) -> None:
    directory = CORPUS / corpus
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for data in dict.fromkeys(inputs):
        name = hashlib.sha1(data).hexdigest()[:16]
        (directory / name).write_bytes(data)


def main() -> None:
    # Reader (both reader targets): every table text, and texts that use the
    # long-run form to reach the scanning bound (0xFF, run character, run length
    # - 32752, text with 0xFE).
    table = [unescape(columns[0]) for _, columns in table_rows(DATA / "reader_table.txt")]
    reader = table + [
        b"\xff0\x0d0.\xfe1",  # 0. and zeros up to the bound, then a 1
        b"\xff0\x0f+\xfe9",
        b"\xff \x00\xfe12",  # white space does not count
        b"\xff9\x0f3.\xfee5",
        b"\xff0\x10" + b"1e\xfe1",
        # Exponents at the overflow limit behind a long run of digits, where the
        # scale comes back into range.
        b"\xff0\x00" + b"1\xfee-4932",
        b"\xff0\x00" + b"1\xfee-4933",
        b"\xff0\x00" + b"-1\xfe.5e-4932",
        b"1e4932",
        b"1e-4933",
    ]
    write("reader", reader)

    write("argument_text", [row["command"] for row in RUNS])

    # Launch: flags, system mask, process mask, argument text. The argument texts
    # of the runs with their own system mask, and with none; every reader table
    # text in one of the three fields in turn; every priority level.
    def run(text: bytes, flags: int = 0, mask: int = 0xF) -> bytes:
        return struct.pack("<BII", flags, mask, mask) + text

    runs = []
    for row in RUNS:
        known = 0xF if row["mask"] == "unknown" else row["mask"]
        runs += [run(row["arg"], mask=known), run(row["arg"], flags=1, mask=0)]
    for i, number in enumerate(table):
        fields = [b"1", b"3", b"0"]
        fields[i % 3] = number
        runs.append(run(b" ".join(fields) + b" x"))
    runs += [run(b"1 %d 0 x" % level) for level in priority_classes()]
    # A start that fails, affinity and class calls that fail, no argument text.
    runs += [run(b"1 3 0 notepad x.txt", flags=2), run(b"255 6 100 app", flags=12, mask=0x3),
             run(b"", flags=16)]
    write("launch", runs)

    # Messages: kind, flags, filler length, filler byte, detail.
    messages = [struct.pack("<iBHB", kind, flags, 0, 0) + detail
                for kind in (-1, 0, 1, 2, 3, 4, 5, 7, 0x7FFFFFFF, -0x80000000)
                for flags, detail in ((2, b""), (0, b"notepad x.txt"))]
    messages += [struct.pack("<iBHB", 5, 0, 0, 0)] + [
        struct.pack("<iBHB", 5, 1, length, ord("a")) + b'"C:\\x" '
        for length in (4045, 4046, 4047, 32768, 65535)]
    write("messages", messages)

    # CPU layouts: Windows' answers in the 32-bit layouts tests/cpu_answer.h builds.
    def entry(kind: int, body: bytes) -> bytes:
        return struct.pack("<II", kind, 8 + len(body)) + body

    def masks(pairs) -> bytes:
        return b"".join(struct.pack("<IH6x", bits, group) for group, bits in pairs)

    def core(cls: int, group: int, bits: int) -> bytes:
        return entry(0, struct.pack("<BB20xH", 0, cls, 1) + masks([(group, bits)]))

    def cache(level: int, kib: int, group: int, bits: int, kind: int = 0) -> bytes:
        return entry(2, struct.pack("<BBHII18xH", level, 8, 64, kib * 1024, kind, 1)
                     + masks([(group, bits)]))

    def machine(groups: list, cores: list, caches: list) -> bytes:
        """cores: (class, group, bits); caches: (level, KiB, group, bits); one node and
        package per group."""
        out = b"".join(core(*c) for c in cores) + b"".join(cache(*c) for c in caches)
        for group, count in enumerate(groups):
            bits = (1 << min(count, 32)) - 1
            out += entry(1, struct.pack("<I18xH", group, 1) + masks([(group, bits)]))
            out += entry(3, struct.pack("<BB20xH", 0, 0, 1) + masks([(group, bits)]))
        infos = b"".join(struct.pack("<BB38xI", n, n, (1 << min(n, 32)) - 1) for n in groups)
        return out + entry(4, struct.pack("<HH20x", len(groups), len(groups)) + infos)

    hybrid = machine([32], [(1, 0, 3 << 2 * c) for c in range(8)]
                     + [(0, 0, 1 << c) for c in range(16, 32)],
                     [(2, 1280, 0, 3 << 2 * c) for c in range(8)] + [(3, 36864, 0, 0xFFFFFFFF)])
    two_caches = machine([32], [(0, 0, 3 << 2 * c) for c in range(16)],
                         [(3, 98304, 0, 0xFFFF), (3, 32768, 0, 0xFFFF0000)])
    two_groups = machine([20, 20], [(0, g, 3 << 2 * c) for g in (0, 1) for c in range(10)],
                         [(3, 25600, g, 0xFFFFF) for g in (0, 1)])
    four = machine([4], [(0, 0, 1 << c) for c in range(4)], [(2, 512, 0, 1 << c) for c in range(4)])
    folded = machine([40, 40], [(0, g, 1 << (c % 32)) for g in (0, 1) for c in range(40)], [])
    write("cpus", [hybrid, two_caches, two_groups, four, folded, four[:50], b""])


if __name__ == "__main__":
    main()
