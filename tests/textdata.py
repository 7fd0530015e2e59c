"""The tests' shared text data: one escape decoder, and the tables in tests/data/.

Escapes (tests/data/reader_table.txt, readnum's input, box_reader's output):
\\\\ backslash, \\t \\n \\v \\f \\r, \\xHH any byte, and (not for readnum) \\" a
double quote and \\| a bar; every other byte stands for itself. The .def files
hold C macro rows that the C++ tests include and macro_rows() reads here, their
texts in the same escapes.
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
        if c in _SIMPLE:
            out.append(_SIMPLE[c])
            i += 2
        elif c == "x" and re.fullmatch(rb"[0-9A-Fa-f]{2}", raw[i + 2:i + 4]):
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        else:
            raise ValueError(f"malformed escape in {text!r}")
    return bytes(out)


def table_rows(path: Path) -> list[tuple[int, list[str]]]:
    """(line number, TAB-separated columns) of each line of a .txt table but blank
    lines and '#' comments."""
    lines = Path(path).read_text(encoding="latin-1").splitlines()
    return [(n, line.split("\t")) for n, line in enumerate(lines, 1)
            if line and not line.startswith("#")]


_PIECES = r'(?:\s*"(?:[^"\\\n]|\\.)*")+'
_PIECE = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
_ARGUMENT = re.compile(rf"\s*({_PIECES}|\w+)\s*(,|\))")


def macro_rows(name: str, macro: str) -> list[tuple]:
    """The arguments of each `macro(...)` that starts a line of tests/data/<name>:
    quoted texts (adjacent pieces joined) as bytes, numbers as int, names as str."""
    text = (DATA / name).read_text(encoding="utf-8")
    rows = []
    for start in re.finditer(rf"^{macro}\(", text, re.M):
        position, row = start.end(), []
        while True:
            m = _ARGUMENT.match(text, position)
            if m is None:
                line = text.count("\n", 0, start.start()) + 1
                raise ValueError(f"{name}:{line}: {macro} does not parse")
            argument = m.group(1)
            if argument.lstrip().startswith('"'):
                row.append(b"".join(unescape(p) for p in _PIECE.findall(argument)))
            else:
                row.append(int(argument, 0) if argument[0].isdigit() else argument)
            position = m.end()
            if m.group(2) == ")":
                break
        rows.append(tuple(row))
    return rows


def facts() -> dict[str, bytes]:
    """The facts of tests/data/facts.def by name: release, caption, box texts."""
    return dict(macro_rows("facts.def", "KELVOR_FACT"))


def priority_classes() -> dict[int, int]:
    """Priority level (1..6) -> the Win32 priority class it sets."""
    return dict(macro_rows("facts.def", "KELVOR_PRIORITY_CLASS"))


def limits() -> dict[str, int]:
    """The numbers kelvor decides or shows by: longest_delay, fallback_mask,
    message_capacity, box_style."""
    return dict(macro_rows("facts.def", "KELVOR_LIMIT"))
