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

_SIMPLE = {b"\\": 0x5C, b"t": 9, b"n": 10, b"v": 11, b"f": 12, b"r": 13, b'"': 0x22, b"|": 0x7C}
_ESCAPE = re.compile(rb'\\(x[0-9A-Fa-f]{2}|[\\tnvfr"|])?')


def unescape(text: str) -> bytes:
    """The bytes an escaped text stands for."""
    def byte(m):
        if m[1] is None:
            raise ValueError(f"malformed escape in {text!r}")
        return bytes([_SIMPLE.get(m[1]) or int(m[1][1:], 16)])
    return _ESCAPE.sub(byte, text.encode("latin-1"))


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
