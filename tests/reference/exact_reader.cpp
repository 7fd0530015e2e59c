#include "exact_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace exact_reader {
namespace {

using U128 = unsigned __int128;

constexpr size_t kBound = 32767;          // characters a number may take after the white space
constexpr int64_t kKeptDigits = 19;       // significant digits that are evaluated
constexpr int64_t kExponentLimit = 4932;  // an exponent beyond this decides alone
constexpr int32_t kNoValue = INT32_MIN;

U128 PowerOfTen(int64_t n) {
    U128 p = 1;
    for (; n > 0; --n) {
        p *= 10;
    }
    return p;
}

// n / d (n > 0, 0 < d < 2^64) rounded to 64 significant bits, to nearest, ties to
// even, then truncated toward zero. It keeps n / d = (m + rest / den) * 2^e and
// moves bits between m and the fraction until m has exactly 64 bits.
U128 RoundAndTruncate(U128 n, U128 d) {
    U128 m = n / d;
    U128 rest = n % d;
    U128 den = d;
    int e = 0;
    while (m >> 64 != 0) {  // too many bits: the lowest joins the fraction
        rest += (m & 1) * den;
        den *= 2;
        m >>= 1;
        ++e;
    }
    while (m >> 63 == 0) {  // too few: the fraction's first bit joins m
        rest *= 2;
        m = m * 2 + (rest >= den ? 1 : 0);
        rest -= rest >= den ? den : 0;
        --e;
    }
    if (2 * rest > den || (2 * rest == den && (m & 1) != 0)) {
        ++m;  // 2^64 at most, exact too
    }
    if (e >= 0) {
        return m << e;
    }
    return -e < 128 ? m >> -e : 0;
}

// The field value of +-accumulator * 10^scale, accumulator > 0.
int32_t Evaluate(bool negative, uint64_t accumulator, int64_t scale) {
    // 10^38 is the largest power of ten in 128 bits, so scales -38 to 38 are
    // worked out; only beyond them does monotonicity decide. From 39 on the
    // value is at least 10^39, far out of range; from -39 down it is below
    // 10^19 / 10^39, which rounds to far less than 1 and truncates to 0.
    // Both lie well past the product's own limits (19 and -20).
    if (scale > 38) {
        return kNoValue;
    }
    if (scale < -38) {
        return 0;
    }
    const U128 power = PowerOfTen(scale >= 0 ? scale : -scale);
    if (scale >= 0 && accumulator > (U128{1} << 127) / power) {
        return kNoValue;  // above 2^127: far out of range, and rounding stays in 128 bits
    }
    const U128 magnitude = scale >= 0 ? RoundAndTruncate(accumulator * power, 1)
                                      : RoundAndTruncate(accumulator, power);
    const U128 limit = U128{1} << 63;  // -2^63 is in range, +2^63 is not
    if (magnitude > limit || (magnitude == limit && !negative)) {
        return kNoValue;
    }
    // The low 32 bits of the two's complement integer, read as signed.
    const uint32_t low = static_cast<uint32_t>(magnitude);
    return static_cast<int32_t>(negative ? 0u - low : low);
}

}  // namespace

Read ReadNumber(const char* text) {
    const char* start = text;
    while (*start == ' ' || (*start >= '\t' && *start <= '\r')) {
        ++start;
    }
    // The number may take kBound characters from here: cut the text there, as if
    // it ended. strnlen stops at the NUL, so nothing past the text is read.
    const std::string_view s(start, strnlen(start, kBound));
    size_t i = 0;
    auto at = [&](std::string_view set) { return i < s.size() && set.find(s[i]) != s.npos; };
    const Read none{0, text};

    bool negative = false;
    if (at("+-")) {
        negative = s[i++] == '-';
        for (const std::string_view word : {"INF", "NAN"}) {
            if (i < s.size() && s[i] == word[0]) {
                return s.substr(i, 3) == word ? Read{kNoValue, start + i + 3} : none;
            }
        }
    }

    // value = (all significand digits as an integer) * 10^(exponent - digits behind
    // the point); the accumulator holds the first 19 significant digits of that
    // integer, so the digits it drops move into the scale.
    uint64_t accumulator = 0;
    int64_t significant = 0;
    int64_t behindPoint = 0;
    bool anyDigit = false;
    bool pointSeen = false;
    for (; i < s.size(); ++i) {
        if (s[i] == '.' && !pointSeen) {
            pointSeen = true;
            continue;
        }
        if (!at("0123456789")) {
            break;
        }
        anyDigit = true;
        behindPoint += pointSeen ? 1 : 0;
        if ((significant > 0 || s[i] != '0') && ++significant <= kKeptDigits) {
            accumulator = accumulator * 10 + static_cast<uint64_t>(s[i] - '0');
        }
    }
    if (!anyDigit) {
        return none;
    }

    // Held at kExponentLimit + 1 once past the limit: only its sign counts then.
    int64_t exponent = 0;
    if (at("eE")) {
        ++i;
        const bool negativeExponent = at("-");
        i += at("+-") ? 1 : 0;
        for (; at("0123456789"); ++i) {
            exponent = std::min(exponent * 10 + (s[i] - '0'), kExponentLimit + 1);
        }
        exponent = negativeExponent ? -exponent : exponent;
    }

    const char* end = start + i;
    if (significant == 0) {
        return Read{0, end};  // only zeros, whatever the exponent
    }
    if (exponent > kExponentLimit || exponent < -kExponentLimit) {
        return Read{exponent > 0 ? kNoValue : 0, end};
    }
    const int64_t scale = exponent - behindPoint + significant - std::min(significant, kKeptDigits);
    return Read{Evaluate(negative, accumulator, scale), end};
}

}  // namespace exact_reader
