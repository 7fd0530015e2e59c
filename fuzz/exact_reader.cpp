#include "exact_reader.h"

#include <initializer_list>

namespace exact_reader {
namespace {

constexpr size_t kBound = 32767;          // characters examined after the white space
constexpr int32_t kKeptDigits = 19;       // significant digits that are evaluated
constexpr int32_t kExponentLimit = 4932;  // beyond this the exponent overflows
constexpr int32_t kNoValue = INT32_MIN;

using U128 = unsigned __int128;

bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}

U128 PowerOfTen(int32_t n) {
    U128 p = 1;
    for (int32_t i = 0; i < n; ++i) {
        p *= 10;
    }
    return p;
}

int32_t Low32(uint64_t bits) {
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// The value of accumulator * 10^scale, truncated toward zero, as a field value.
//
// The first 19 significant digits are evaluated exactly here, with no rounding to
// 64 significant bits first. That rounding cannot change the truncated result:
// whenever the digits do not name an integer, the distance from their value x up
// to the next integer is at least one unit of the last digit, which is more than
// x / 10^19 because the accumulator is below 10^19; half a unit in the last place
// of a 64-bit significand is at most x / 2^64, smaller than that. So rounding
// never lifts x onto the integer above, and values below 2^64 that are integers
// are exact at 64 bits.
int32_t Evaluate(bool negative, uint64_t accumulator, int32_t significant, int32_t point,
                 int32_t exponent, bool overflow) {
    if (significant == 0) {
        return 0;
    }
    if (overflow) {
        return exponent < 0 ? 0 : kNoValue;
    }
    const int64_t scale = static_cast<int64_t>(exponent) + point -
                          (significant < kKeptDigits ? significant : kKeptDigits);
    if (scale >= 19) {
        return kNoValue;  // at least 10^19, past 2^63
    }
    if (scale <= -20) {
        return 0;  // below 0.1
    }
    const U128 magnitude = scale >= 0 ? accumulator * PowerOfTen(static_cast<int32_t>(scale))
                                      : accumulator / PowerOfTen(static_cast<int32_t>(-scale));
    const U128 limit = static_cast<U128>(1) << 63;
    if (negative) {
        if (magnitude > limit) {
            return kNoValue;
        }
        return Low32(static_cast<uint64_t>(0) - static_cast<uint64_t>(magnitude));
    }
    if (magnitude >= limit) {
        return kNoValue;
    }
    return Low32(static_cast<uint64_t>(magnitude));
}

}  // namespace

Read ReadNumber(const char* text) {
    size_t i = 0;
    while (IsWhiteSpace(text[i])) {
        ++i;
    }
    const size_t limit = i + kBound;
    // The character at k, or -1 past the bound. Callers look at k only when every
    // character before it was not the NUL, so this never reads past the text.
    auto at = [&](size_t k) -> int { return k < limit ? static_cast<unsigned char>(text[k]) : -1; };
    const Read failed{0, 0};

    bool negative = false;
    if (at(i) == '+' || at(i) == '-') {
        negative = at(i) == '-';
        ++i;
        for (const char* word : {"INF", "NAN"}) {
            if (at(i) == word[0]) {
                if (at(i + 1) == word[1] && at(i + 2) == word[2]) {
                    return Read{kNoValue, i + 3};
                }
                return failed;
            }
        }
    }

    uint64_t accumulator = 0;
    int32_t significant = 0;
    bool anyDigit = false;
    bool pointSeen = false;
    int32_t point = 0;
    for (;; ++i) {
        const int c = at(i);
        if (IsDigit(c)) {
            anyDigit = true;
            const int digit = c - '0';
            if (significant == 0 && digit == 0) {
                if (pointSeen) {
                    --point;
                }
            } else if (++significant <= kKeptDigits) {
                accumulator = accumulator * 10 + static_cast<uint64_t>(digit);
            }
        } else if (c == '.' && !pointSeen) {
            pointSeen = true;
            point = significant;
        } else {
            break;
        }
    }
    if (!anyDigit) {
        return failed;
    }
    if (!pointSeen) {
        point = significant;
    }

    int32_t exponent = 0;
    bool exponentNegative = false;
    bool overflow = false;
    if (at(i) == 'e' || at(i) == 'E') {
        ++i;
        if (at(i) == '+' || at(i) == '-') {
            exponentNegative = at(i) == '-';
            ++i;
        }
        for (; IsDigit(at(i)); ++i) {
            if (!overflow) {
                exponent = exponent * 10 + (at(i) - '0');
                overflow = exponent > kExponentLimit;
            }
        }
    }
    if (exponentNegative) {
        exponent = -exponent;
    }
    return Read{Evaluate(negative, accumulator, significant, point, exponent, overflow), i};
}

}  // namespace exact_reader
