"""The tests' shared text data: the escapes their data files use, and the facts file.

Escapes (tests/data/*.txt, readnum's input, tests/data/facts.def): \\\\ backslash,
\\t \\n \\v \\f \\r, \\" a double quote, \\| a bar (box_reader's output), \\xHH any byte; every other byte stands for
itself.
"""

import re
from pathlib import Path

DATA = Path(__file__).resolve().parent / "data"

_SIMPLE = {"\\": 0x5C, "t": 9, "n": 10, "v": 11, "f": 12, "r": 13, '"': 0x22, "|": 0x7C}


def unescape(text: str) -> bytes:
    """The bytes an escaped text stands for."""
    out = bytearray()
    raw = text.encode("latin-1")
    i = 0
    while i < len(raw):
        b = raw[i]
        if b != 0x5C:
            out.append(b)
            i += 1
            continue
        c = chr(raw[i + 1]) if i + 1 < len(raw) else ""
        if c in _SIMPLE and c:
            out.append(_SIMPLE[c])
            i += 2
        elif c == "x" and re.fullmatch(rb"[0-9A-Fa-f]{2}", raw[i + 2:i + 4]):
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        else:
            raise ValueError(f"malformed escape in {text!r}")
    return bytes(out)


def escape(data: bytes) -> str:
    """A text that unescape() turns back into `data`: printable ASCII as itself."""
    out = []
    for b in data:
        if b == 0x5C:
            out.append("\\\\")
        elif 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append(f"\\x{b:02x}")
    return "".join(out)


_FACT = re.compile(r'KELVOR_FACT\((\w+),((?:\s*"(?:[^"\\\n]|\\.)*")+)\s*\)')
_PIECE = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
_PRIORITY = re.compile(r"KELVOR_PRIORITY_CLASS\((\d+), (0x[0-9A-Fa-f]+)\)")


def facts() -> dict[str, bytes]:
    """The facts of tests/data/facts.def by name: release, caption, box texts."""
    text = (DATA / "facts.def").read_text(encoding="utf-8")
    found = {}
    for m in _FACT.finditer(text):
        found[m.group(1)] = b"".join(unescape(p) for p in _PIECE.findall(m.group(2)))
    if len(found) != len(re.findall(r"^KELVOR_FACT\(", text, re.M)):
        raise ValueError("facts.def: a KELVOR_FACT does not parse")
    return found


def priority_classes() -> dict[int, int]:
    """Priority level (1..6) -> the Win32 priority class it sets."""
    text = (DATA / "facts.def").read_text(encoding="utf-8")
    return {int(level): int(value, 16) for level, value in _PRIORITY.findall(text)}
