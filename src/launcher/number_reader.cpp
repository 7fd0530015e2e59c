// Reads one number in two stages: scanning decides which characters belong to
// it, evaluation what they are worth, in exact integer arithmetic.
#include "number_reader.h"

namespace {

constexpr int32_t kAccumulatedDigits = 19;  // 10^19 - 1 still fits in 64 bits
// An exponent's digits are read only up to this magnitude; past it the exponent
// decides the value alone, whatever the digits in front of it.
constexpr int32_t kExponentLimit = 4932;

bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The character at `position`, or the end of the text once the number has
// taken its bound of characters counted from `first`. Scanning advances only
// over characters read this way, so it never reads past the terminating NUL.
char At(const char* first, const char* position) {
    return position - first < kNumberBound ? *position : '\0';
}

bool MatchesWord(const char* first, const char* position, const char (&word)[4]) {
    for (int i = 0; i < 3; ++i) {
        if (At(first, position + i) != word[i]) {
            return false;
        }
    }
    return true;
}

// The integer quotient of value / 10, in 16-bit steps so that only 32-bit
// division is needed: the exe links no helper library for 64-bit division.
uint64_t DivideByTen(uint64_t value) {
    uint64_t quotient = 0;
    uint32_t remainder = 0;
    for (int shift = 48; shift >= 0; shift -= 16) {
        const uint32_t part = (remainder << 16) | static_cast<uint32_t>((value >> shift) & 0xFFFF);
        quotient |= static_cast<uint64_t>(part / 10) << shift;
        remainder = part % 10;
    }
    return quotient;
}

}  // namespace

ScannedNumber ScanNumber(const char* cursor) {
    ScannedNumber number{};
    number.form = NumberForm::None;
    number.end = cursor;

    const char* p = cursor;
    while (IsWhiteSpace(*p)) {
        ++p;
    }
    const char* const first = p;  // the bound counts from here

    char c = At(first, p);
    if (c == '+' || c == '-') {
        number.negative = c == '-';
        ++p;
        c = At(first, p);
        if (c == 'I' || c == 'N') {
            if (MatchesWord(first, p, "INF")) {
                number.form = NumberForm::Infinity;
            } else if (MatchesWord(first, p, "NAN")) {
                number.form = NumberForm::NotANumber;
            } else {
                return number;
            }
            number.end = p + 3;
            return number;
        }
    }

    bool sawDigit = false;
    bool sawPoint = false;
    for (;; ++p) {
        c = At(first, p);
        if (IsDigit(c)) {
            sawDigit = true;
            if (number.significantDigits == 0 && c == '0') {
                if (sawPoint) {
                    --number.pointPosition;
                }
                continue;
            }
            if (number.significantDigits < kAccumulatedDigits) {
                number.accumulator = number.accumulator * 10 + static_cast<uint64_t>(c - '0');
            }
            ++number.significantDigits;
        } else if (c == '.' && !sawPoint) {
            sawPoint = true;
            number.pointPosition = number.significantDigits;
        } else {
            break;
        }
    }
    if (!sawDigit) {
        return number;
    }
    if (!sawPoint) {
        number.pointPosition = number.significantDigits;
    }

    if (c == 'e' || c == 'E') {
        ++p;
        c = At(first, p);
        bool exponentNegative = false;
        if (c == '+' || c == '-') {
            exponentNegative = c == '-';
            ++p;
        }
        int32_t magnitude = 0;
        for (; IsDigit(c = At(first, p)); ++p) {
            if (!number.exponentOverflow) {
                magnitude = magnitude * 10 + (c - '0');
                number.exponentOverflow = magnitude > kExponentLimit;
            }
        }
        number.exponent = exponentNegative ? -magnitude : magnitude;
    }

    number.form = NumberForm::Finite;
    number.end = p;
    return number;
}

// The value is accumulator * 10^scale rounded once to 64 significant bits,
// then truncated toward zero. This evaluates it exactly in integers:
//
// * scale >= 0: the product is an integer. Below 2^64 it is exact at 64 bits,
//   so it is in range exactly when it is at most 2^63 (2^63 only as a negative
//   value). Rounding can only move a product of 2^64 or more, which is out of
//   range either way; from scale 19 on the product is at least 10^19 > 2^63.
// * scale = -k, 1 <= k <= 19: write A = q * 10^k + r. If r = 0 the quotient q is
//   exact. Otherwise x = A / 10^k lies strictly between q and q + 1, at least
//   10^-k below q + 1. As x < 10^(19-k), half a unit in the 64th bit is below
//   10^(19-k) / 2^64 < 10^-k because 10^19 < 2^64, so rounding to nearest can
//   never reach q + 1, and it cannot fall below the representable q either:
//   the truncated value is q, the integer quotient.
// * scale < -19: x < 10^19 / 10^20 < 1, far from 1 at 64 bits, so it reads as 0.
//
// No floating point is involved, so neither the compiler nor the x87 control
// word can change the result.
int32_t EvaluateNumber(const ScannedNumber& number) {
    if (number.form == NumberForm::None) {
        return 0;
    }
    if (number.form != NumberForm::Finite) {
        return kUnrepresentable;
    }
    if (number.significantDigits == 0) {
        return 0;
    }
    if (number.exponentOverflow) {
        return number.exponent < 0 ? 0 : kUnrepresentable;
    }

    const int32_t kept = number.significantDigits < kAccumulatedDigits ? number.significantDigits
                                                                       : kAccumulatedDigits;
    const int32_t scale = number.exponent + number.pointPosition - kept;
    constexpr uint64_t kRangeEnd = uint64_t{1} << 63;  // largest magnitude, negative only
    uint64_t magnitude = number.accumulator;
    if (scale >= 0) {
        for (int32_t step = 0; step < scale; ++step) {
            if (magnitude > kRangeEnd / 10) {
                return kUnrepresentable;
            }
            magnitude *= 10;
        }
        if (magnitude > kRangeEnd || (magnitude == kRangeEnd && !number.negative)) {
            return kUnrepresentable;
        }
    } else if (scale >= -kAccumulatedDigits) {
        for (int32_t step = 0; step > scale; --step) {
            magnitude = DivideByTen(magnitude);
        }
    } else {
        return 0;
    }

    // Low 32 bits of the signed 64-bit result, read as two's complement.
    const uint64_t bits = number.negative ? 0 - magnitude : magnitude;
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

NumberRead ReadNumber(const char* cursor) {
    const ScannedNumber number = ScanNumber(cursor);
    return NumberRead{EvaluateNumber(number), number.end};
}
