#!/usr/bin/env python3
"""Compares readnum with readnum_reference, the same tool over the exact reader
tests/reference/exact_reader.cpp.

The generator makes many texts from a fixed seed, biased towards the places where
readers go wrong; each tool runs once over all of them and every value and end
position must agree. --table checks the reader's table (escaped text, value, end
offset) both ways: every row against the reference, and readnum against every
row.
"""
import argparse
import random
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from textdata import escape, table_rows, unescape  # noqa: E402

BOUND = 32767  # characters a number may take from the first one after the white space


class Generator:
    WHITE = [b" ", b"\t", b"\n", b"\v", b"\f", b"\r"]
    NOT_WHITE = [b"\xa0", b"\x85", b"\x1c", b"\x08", b"\x00", b"\xff"]
    JUNK = b".eE+-0123456789xX,INFAnaf \t\"\\/\x00\xa0"

    def __init__(self, seed: int):
        self.r = random.Random(seed)

    def white(self) -> bytes:
        r = self.r
        k = r.choice([0, 0, 0, 1, 1, 2, 3, 8])
        return b"".join(r.choice(self.WHITE) for _ in range(k))

    def junk(self) -> bytes:
        r = self.r
        k = r.choice([0, 0, 0, 1, 1, 2, 4])
        return bytes(r.choice(self.JUNK) for _ in range(k))

    def sign(self) -> bytes:
        return self.r.choice([b"", b"", b"", b"+", b"-"])

    def leading_zeros(self) -> bytes:
        return b"0" * self.r.choice([0, 0, 0, 0, 1, 2, 5, 25])

    def place_point(self, digits: bytes) -> bytes:
        """Moves a decimal point into an integer's digits, compensating with an exponent."""
        r = self.r
        k = r.randint(0, len(digits))
        body = digits[:k] + b"." + digits[k:]
        shift = len(digits) - k
        extra = r.choice([0, 0, 0, 1, -1, 2, -2])
        e = shift + extra
        return body + r.choice([b"e", b"E"]) + str(e).encode()

    def boundary_integer(self) -> bytes:
        r = self.r
        base = r.choice([0, 1, 6, 7, 60000, 2**31, 2**32, 2**63, 2**64, 10**18, 10**19, 10**20,
                         2**53, 2**62, 3 * 2**31])
        n = max(0, base + r.randint(-5, 5))
        digits = str(n).encode()
        form = r.randrange(6)
        if form == 0:
            body = digits
        elif form == 1:
            body = digits + r.choice([b".", b".0", b".5", b".49", b".9", b".999999999",
                                      b".99999999999999999999", b".00000000000000000001"])
        elif form == 2:
            body = self.place_point(digits)
        elif form == 3:
            # Trailing zeros moved into the exponent.
            body = digits + b"000" + r.choice([b"e-3", b"E-3", b"e-03", b"e-4", b"e-2"])
        elif form == 4:
            body = b"0." + b"0" * r.randint(0, 3) + digits + b"e" + str(
                len(digits) + r.randint(0, 4)).encode()
        else:
            body = digits + r.choice([b"e0", b"e+0", b"e-0", b"e", b"e+", b"e-", b"E1"])
        return self.sign() + self.leading_zeros() + body

    def significant_digits(self) -> bytes:
        """19, 20 and 21 significant digits, and runs of nines below an integer."""
        r = self.r
        count = r.choice([18, 19, 19, 20, 20, 21, 22, 25, 40])
        if r.random() < 0.4:
            head = str(r.randint(1, 99999)).encode()
            body = head + b"." + b"9" * max(1, count - len(head))
        else:
            ds = bytes([r.choice(b"123456789")]) + bytes(
                r.choice(b"0123456789") for _ in range(count - 1))
            k = r.randint(0, count)
            body = ds[:k] + b"." + ds[k:] if r.random() < 0.7 else ds
        if r.random() < 0.5:
            body += b"e" + str(r.randint(-25, 25)).encode()
        return self.sign() + self.leading_zeros() + body

    def scaled(self) -> bytes:
        """Few digits with a scale near -19..19, where the power of ten is exact."""
        r = self.r
        ds = str(r.choice([1, 3, 5, 9, 25, 125, 999, r.randint(1, 10**r.randint(1, 19))]))
        body = ds.encode()
        if r.random() < 0.5:
            k = r.randint(0, len(body))
            body = body[:k] + b"." + body[k:]
        return self.sign() + body + r.choice([b"e", b"E"]) + str(r.randint(-22, 22)).encode()

    def big_exponent(self) -> bytes:
        r = self.r
        e = r.choice([4930, 4931, 4932, 4933, 4934, 9999, 49320, 2**31, 2**32 + 4932])
        exp_text = str(e).encode()
        if r.random() < 0.3:
            exp_text = b"0" * r.randint(1, 6) + exp_text
        esign = r.choice([b"", b"+", b"-"])
        mant = r.choice([b"0", b"0.0", b"1", b"9", b"99999", b"0.0001", b".1", b"1" + b"0" * 30,
                         b"0." + b"0" * 4940 + b"1", b"1" + b"0" * 4940])
        return self.sign() + mant + b"e" + esign + exp_text + self.junk()

    def word(self) -> bytes:
        r = self.r
        w = r.choice([b"INF", b"NAN", b"Inf", b"NaN", b"IN", b"NA", b"I", b"N", b"INFINITY",
                      b"NANx", b"IN5", b"INF5", b"NAN.5", b"inf", b"nan", b"INf"])
        return r.choice([b"+", b"-", b"", b"+ ", b"--"]) + w

    def random_text(self) -> bytes:
        r = self.r
        alphabet = b"0123456789" * 3 + b"..eE+-" + b" \tx"
        return bytes(r.choice(alphabet) for _ in range(r.randint(0, 16)))

    def long_text(self) -> bytes:
        """Texts around the 32,767-character bound."""
        r = self.r
        n = BOUND + r.randint(-4, 4)
        kind = r.randrange(7)
        lead = b" " * r.choice([0, 0, 3, 40000])  # white space does not count
        sign = r.choice([b"", b"+", b"-"])
        if kind == 0:  # 0.000...01 with the 1 near the bound
            body = b"0." + b"0" * (n - 2 - len(sign)) + b"1"
        elif kind == 1:  # a long run of digits, exponent letter near the bound
            body = b"1" + b"0" * (n - 1 - len(sign)) + b"e-" + str(n).encode()
        elif kind == 2:  # leading zeros then a small number at the bound
            body = b"0" * (n - len(sign)) + b"7"
        elif kind == 3:  # exponent digits running through the bound
            body = b"5e" + b"0" * (n - 3 - len(sign)) + b"1"
        elif kind == 4:  # nines behind the point
            body = b"3." + b"9" * (n - len(sign))
        elif kind == 5:  # digits, then point, then zeros with an exponent near the bound
            body = b"1" * 10 + b"." + b"0" * (n - 13 - len(sign)) + b"e9"
        else:  # the exponent's sign right at the bound
            body = b"1" * (n - 2 - len(sign)) + b"e-5"
        return lead + sign + body + self.junk()

    def text(self) -> bytes:
        r = self.r
        pick = r.random()
        if pick < 0.28:
            core = self.boundary_integer()
        elif pick < 0.48:
            core = self.significant_digits()
        elif pick < 0.63:
            core = self.scaled()
        elif pick < 0.68:
            core = self.big_exponent()
        elif pick < 0.74:
            core = self.word()
        else:
            core = self.random_text()
        lead = self.white()
        if r.random() < 0.03:
            lead = r.choice(self.NOT_WHITE) + lead
        return lead + core + self.junk()

    def texts(self, count: int, long_count: int) -> list[bytes]:
        out = [self.text() for _ in range(count)]
        out += [self.long_text() for _ in range(long_count)]
        self.r.shuffle(out)
        return out


def shown(text: bytes, limit: int = 120) -> str:
    s = escape(text)
    return s if len(s) <= limit else f"{s[:limit]}... ({len(text)} bytes)"


def run(tool: str, texts: list[bytes]) -> list[str]:
    """The tool's '<value> <end>' line for each text."""
    stdin = "".join(escape(t) + "\n" for t in texts).encode("latin-1")
    out = subprocess.run([tool], input=stdin, capture_output=True, check=True)
    lines = out.stdout.decode().splitlines()
    if len(lines) != len(texts):
        sys.exit(f"{tool} printed {len(lines)} lines for {len(texts)} texts")
    return lines


def compare(label: str, texts: list[bytes], expected: list[str], got: list[str],
            sources: tuple[str, str]) -> int:
    """Compares two answers per text, named after `sources`; 1 on any mismatch."""
    mismatches = [(t, e, g) for t, e, g in zip(texts, expected, got) if e != g]
    for text, e, g in mismatches[:10]:
        print(f"  MISMATCH {shown(text)!r}: {sources[0]} '{e}', {sources[1]} '{g}'")
    print(f"{label}: {len(texts)} texts compared, {len(mismatches)} mismatches")
    return 1 if mismatches else 0


def check_readme_example(readme: Path, readnum: str) -> int:
    """Runs the README's `$ ... | build/native/tools/readnum` line with this readnum,
    and compares what it prints with the lines shown below it, up to the fence."""
    lines = readme.read_text(encoding="utf-8").splitlines()
    at = next(i for i, line in enumerate(lines)
              if line.startswith("$ ") and line.endswith("| build/native/tools/readnum"))
    shown = lines[at + 1:lines.index("```", at)]
    command = lines[at][2:].replace("build/native/tools/readnum", readnum)
    got = subprocess.run(["bash", "-c", command], capture_output=True, check=True,
                         text=True).stdout.splitlines()
    if got != shown:
        print(f"{readme}:{at + 1}: the readnum example prints {got}, the README shows {shown}")
        return 1
    print(f"README's readnum example: {len(shown)} lines as shown")
    return 0


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--readnum", required=True, help="readnum executable")
    ap.add_argument("--reference", required=True, help="readnum_reference executable")
    ap.add_argument("--table", help="reader table to check against both tools")
    ap.add_argument("--count", type=int, default=100000, help="generated texts")
    ap.add_argument("--long", type=int, default=60, help="extra texts around the bound")
    ap.add_argument("--seed", type=int, default=20240607)
    ap.add_argument("--readme", help="README whose readnum example must print what it shows")
    args = ap.parse_args()

    status = 0
    if args.readme:
        status |= check_readme_example(Path(args.readme), args.readnum)
    if args.table:
        rows = [(unescape(c[0]), f"{int(c[1])} {int(c[2])}") for _, c in table_rows(args.table)]
        texts, expected = [t for t, _ in rows], [row for _, row in rows]
        status |= compare("table against the reference", texts, expected,
                          run(args.reference, texts), ("table", "reference"))
        status |= compare("table via readnum", texts, expected, run(args.readnum, texts),
                          ("table", "readnum"))
    if args.count > 0:
        texts = Generator(args.seed).texts(args.count, args.long)
        status |= compare(f"generated (seed {args.seed})", texts, run(args.reference, texts),
                          run(args.readnum, texts), ("reference", "readnum"))
    return status


if __name__ == "__main__":
    sys.exit(main())
