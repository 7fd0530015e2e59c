#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ from the unit tests' own tables.

Run from anywhere; it rewrites fuzz/corpus/<target>/ completely. The inputs follow
each target's layout (see the comment above each LLVMFuzzerTestOneInput).
"""
import hashlib
import pathlib
import re
import shutil
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT / "fuzz" / "corpus"


def c_string(literal: str) -> bytes:
    """Decodes the body of a C++ string literal (the escapes the tests use)."""
    simple = {"\\": b"\\", '"': b'"', "t": b"\t", "n": b"\n", "r": b"\r", "0": b"\0"}
    out = b""
    i = 0
    while i < len(literal):
        if literal[i] == "\\":
            out += simple[literal[i + 1]]
            i += 2
        else:
            out += literal[i].encode("latin-1")
            i += 1
    return out


def first_literals(path: pathlib.Path, start: str) -> list[tuple[bytes, str]]:
    """The first string literal of each table row after `start`, with the row's rest."""
    rows = []
    text = path.read_text(encoding="latin-1")
    body = text[text.index(start):]
    body = body[:body.index("\n};")]
    for m in re.finditer(r'^\s*\{\s*"((?:[^"\\]|\\.)*)"(.*)$', body, re.M):
        rows.append((c_string(m.group(1)), m.group(2)))
    return rows


def reader_table() -> list[bytes]:
    simple = {"\\": 0x5C, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13}
    texts = []
    for line in (ROOT / "tests/data/reader_table.txt").read_text(encoding="latin-1").splitlines():
        if not line or line.startswith("#"):
            continue
        raw = line.split("\t")[0].encode("latin-1")
        out = bytearray()
        i = 0
        while i < len(raw):
            if raw[i] != 0x5C:
                out.append(raw[i])
                i += 1
            elif chr(raw[i + 1]) == "x":
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
            else:
                out.append(simple[chr(raw[i + 1])])
                i += 2
        texts.append(bytes(out))
    return texts


def write(target: str, inputs: list[bytes]) -> None:
    directory = CORPUS / target
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for data in dict.fromkeys(inputs):
        name = hashlib.sha1(data).hexdigest()[:16]
        (directory / name).write_bytes(data)


def main() -> None:
    # Reader: every table text, and texts that use the long-run form to reach the
    # scanning bound (0xFF, run character, run length - 32752, text with 0xFE).
    reader = reader_table()
    reader += [
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
    write("fuzz_reader", reader)
    write("fuzz_reader_differential", reader)

    cuts = [text for text, _ in first_literals(ROOT / "tests/argument_text_test.cpp",
                                                "kCuts[]")]
    write("fuzz_argument_text", cuts)

    # Launch: flags, system mask, process mask, argument text.
    runs = []
    for text, rest in first_literals(ROOT / "tests/launch_sequence_test.cpp", "kRuns[]"):
        runs.append(struct.pack("<BII", 0, 0xF, 0xF) + text)
        m = re.search(r"\},?\s*(0x[0-9A-Fa-f]+|\d+)(?:,\s*(false|true))?\}", rest)
        if m:
            known = m.group(2) != "false"
            mask = int(m.group(1), 0)
            runs.append(struct.pack("<BII", 0 if known else 1, mask, mask) + text)
    runs.append(struct.pack("<BII", 2, 0xF, 0xF) + b"1 3 0 notepad x.txt")
    runs.append(struct.pack("<BII", 12, 0x3, 0x3) + b"255 6 100 app")
    runs.append(struct.pack("<BII", 16, 0xF, 0xF))
    write("fuzz_launch", runs)

    # Messages: kind, flags, filler length, filler byte, detail.
    messages = []
    for kind in (-1, 0, 1, 2, 3, 4, 5, 7, 0x7FFFFFFF, -0x80000000):
        messages.append(struct.pack("<iBHB", kind, 2, 0, 0))
        messages.append(struct.pack("<iBHB", kind, 0, 0, 0) + b"notepad x.txt")
    messages.append(struct.pack("<iBHB", 5, 0, 0, 0))
    for length in (4045, 4046, 4047, 32768, 65535):
        messages.append(struct.pack("<iBHB", 5, 1, length, ord("a")) + b'"C:\\x" ')
    write("fuzz_messages", messages)


if __name__ == "__main__":
    main()
