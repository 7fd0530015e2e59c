#!/usr/bin/env python3
"""Exact reference for the number reader, and a differential check of readnum against it.

The reference scans a text and evaluates the number it finds with exact rational
arithmetic: the value of the first 19 significant digits times a power of ten,
rounded once to 64 significant bits (to nearest, ties to even), truncated toward
zero to a signed 64-bit integer, of which the low 32 bits are read as a signed
value. Texts without a 32-bit meaning (infinities, NaNs, truncated values outside
-2^63..2^63-1, an overflowing exponent) read as -2147483648.

The generator makes many texts from a fixed seed, biased towards the places where
readers go wrong; readnum runs once over all of them and every value and end
position must agree. --table checks the reader's table (escaped text, value, end
offset) both ways: every row against the reference, and readnum against every
row.
"""
import argparse
import math
import random
import subprocess
import sys
from fractions import Fraction
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
from textdata import escape, table_rows, unescape  # noqa: E402

sys.set_int_max_str_digits(0)

WHITE_SPACE = frozenset(b"\t\n\v\f\r ")
DIGITS = frozenset(b"0123456789")
BOUND = 32767  # characters examined from the first one after the white space
KEPT_DIGITS = 19  # significant digits that enter the accumulator
EXPONENT_LIMIT = 4932  # an exponent past this in magnitude sets the overflow mark
UNREPRESENTABLE = -(2**31)
INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1


# ---------------------------------------------------------------------------
# The reference reader


def round_to_64_bits(q: Fraction) -> Fraction:
    """Rounds a positive rational to 64 significant bits, to nearest, ties to even."""
    n, d = q.numerator, q.denominator
    # Find e with 2^63 <= n / (d * 2^e) < 2^64.
    e = n.bit_length() - d.bit_length() - 64
    while True:
        num, den = (n, d << e) if e >= 0 else (n << -e, d)
        if num < den << 63:
            e -= 1
        elif num >= den << 64:
            e += 1
        else:
            break
    m, rest = divmod(num, den)
    if 2 * rest > den or (2 * rest == den and m & 1):
        m += 1
    return Fraction(m) * Fraction(2) ** e


def low_32_signed(n: int) -> int:
    n &= 0xFFFFFFFF
    return n - (1 << 32) if n & 0x80000000 else n


def evaluate(negative: bool, accumulator: int, significant: int, point: int, exponent: int,
             overflow: bool) -> int:
    if significant == 0:
        return 0  # only zeros: 0 whatever the exponent
    if overflow:
        # A positive exponent past the limit gives the largest finite working value,
        # far beyond 64 bits; a negative one gives 0.
        return 0 if exponent < 0 else UNREPRESENTABLE
    scale = exponent + point - min(significant, KEPT_DIGITS)
    # Outside these scales the result is known without exact arithmetic: the
    # accumulator is 1..10^19-1, so a scale of 19 or more gives at least 10^19
    # (beyond 2^63, also after rounding), and a scale of -20 or less gives less
    # than 0.1, which rounds to less than 1 and truncates to 0.
    if scale >= 19:
        return UNREPRESENTABLE
    if scale <= -20:
        return 0
    exact = Fraction(accumulator) * Fraction(10) ** scale
    rounded = round_to_64_bits(exact)
    truncated = math.trunc(rounded)
    if negative:
        truncated = -truncated
    if truncated < INT64_MIN or truncated > INT64_MAX:
        return UNREPRESENTABLE
    return low_32_signed(truncated)


def reference_read(text: bytes) -> tuple[int, int]:
    """Returns (value, end offset) for the number at the start of `text`."""
    nul = text.find(b"\0")
    if nul >= 0:
        text = text[:nul]
    i = 0
    while i < len(text) and text[i] in WHITE_SPACE:
        i += 1
    limit = min(len(text), i + BOUND)

    def at(k: int) -> int:
        return text[k] if k < limit else -1

    failed = (0, 0)
    negative = False
    if at(i) in (ord("+"), ord("-")):
        negative = at(i) == ord("-")
        i += 1
        for word in (b"INF", b"NAN"):
            if at(i) == word[0]:
                if all(at(i + k) == word[k] for k in range(3)):
                    return UNREPRESENTABLE, i + 3
                return failed

    accumulator = 0
    significant = 0
    any_digit = False
    point = None
    while True:
        c = at(i)
        if c in DIGITS:
            any_digit = True
            digit = c - ord("0")
            if significant == 0 and digit == 0:
                if point is not None:
                    point -= 1  # a leading zero behind the point
            else:
                significant += 1
                if significant <= KEPT_DIGITS:
                    accumulator = accumulator * 10 + digit
        elif c == ord(".") and point is None:
            point = significant
        else:
            break
        i += 1
    if not any_digit:
        return failed
    if point is None:
        point = significant

    exponent = 0
    exponent_negative = False
    overflow = False
    if at(i) in (ord("e"), ord("E")):
        i += 1
        if at(i) in (ord("+"), ord("-")):
            exponent_negative = at(i) == ord("-")
            i += 1
        while at(i) in DIGITS:
            if not overflow:
                exponent = exponent * 10 + (at(i) - ord("0"))
                if exponent > EXPONENT_LIMIT:
                    overflow = True
            i += 1
    if exponent_negative:
        exponent = -exponent
        if overflow:
            exponent = -EXPONENT_LIMIT - 1
    elif overflow:
        exponent = EXPONENT_LIMIT + 1
    return evaluate(negative, accumulator, significant, point, exponent, overflow), i


def shown(text: bytes, limit: int = 120) -> str:
    s = escape(text)
    return s if len(s) <= limit else f"{s[:limit]}... ({len(text)} bytes)"


# ---------------------------------------------------------------------------
# The generator


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


# ---------------------------------------------------------------------------
# Running readnum


def run_readnum(readnum: str, texts: list[bytes]) -> list[str]:
    stdin = "".join(escape(t) + "\n" for t in texts).encode("latin-1")
    out = subprocess.run([readnum], input=stdin, capture_output=True, check=True)
    return out.stdout.decode().splitlines()


def compare(label: str, texts: list[bytes], expected: list[tuple[int, int]],
            got: list[str], source: str = "reference") -> int:
    """Compares readnum's lines with the expected values and ends, named after `source`."""
    if len(got) != len(texts):
        print(f"{label}: readnum printed {len(got)} lines for {len(texts)} texts")
        return 1
    mismatches = []
    for text, (value, end), line in zip(texts, expected, got):
        if line != f"{value} {end}":
            mismatches.append((text, value, end, line))
    for text, value, end, line in mismatches[:10]:
        print(f"  MISMATCH {shown(text)!r}: {source} '{value} {end}', readnum '{line}'")
    print(f"{label}: {len(texts)} texts compared, {len(mismatches)} mismatches")
    return 1 if mismatches else 0


def check_table(table: str, readnum: str | None) -> int:
    """Checks each row's value and end against the reference, then readnum against the rows."""
    failures = 0
    texts, expected = [], []
    for n, (escaped, value, end) in table_rows(table):
        text = unescape(escaped)
        row = (int(value), int(end))
        ref = reference_read(text)
        if ref != row:
            print(f"  TABLE line {n} {escaped!r}: table '{value} {end}', "
                  f"reference '{ref[0]} {ref[1]}'")
            failures += 1
        texts.append(text)
        expected.append(row)
    print(f"table: {len(texts)} rows checked against the reference, {failures} disagree")
    status = 1 if failures else 0
    if readnum:
        status |= compare("table via readnum", texts, expected, run_readnum(readnum, texts),
                          "table")
    return status


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--readnum", help="readnum executable; without it only the table is checked")
    ap.add_argument("--table", help="reader table to check against the reference and readnum")
    ap.add_argument("--count", type=int, default=100000, help="generated texts")
    ap.add_argument("--long", type=int, default=60, help="extra texts around the bound")
    ap.add_argument("--seed", type=int, default=20240607)
    args = ap.parse_args()

    status = 0
    if args.table:
        status |= check_table(args.table, args.readnum)
    if args.readnum and args.count > 0:
        texts = Generator(args.seed).texts(args.count, args.long)
        expected = [reference_read(t) for t in texts]
        status |= compare(f"generated (seed {args.seed})", texts, expected,
                          run_readnum(args.readnum, texts))
    return status


if __name__ == "__main__":
    sys.exit(main())
