// The number reader: its table (tests/data/reader_table.txt), long texts, what
// scanning finds and reads cut at every length; and the tests' exact reader
// (reference/exact_reader.cpp) against it over the texts around the scanning
// bound, 100,000 generated texts and, on request, every short text.
#include "number_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "escaped_text.h"
#include "reference/exact_reader.h"

namespace {

using U128 = unsigned __int128;
using Rng = std::mt19937_64;

// Copies `text` into a heap block of exactly its size, so AddressSanitizer
// reports any read past the terminating NUL.
std::unique_ptr<char[]> ExactCopy(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
}

// Reads `text` with the product and the exact reader, counts and reports the
// first few disagreements, and returns the product's "<value> <end>".
std::string Compare(const std::string& text, int64_t& mismatches) {
    const auto copy = ExactCopy(text);
    const NumberRead product = ReadNumber(copy.get());
    const exact_reader::Read exact = exact_reader::ReadNumber(copy.get());
    auto shown = [&](int32_t value, const char* end) {
        return std::to_string(value) + " " + std::to_string(end - copy.get());
    };
    if ((product.value != exact.value || product.end != exact.end) && ++mismatches <= 10) {
        ADD_FAILURE() << testing::PrintToString(text.substr(0, 80)) << " (" << text.size()
                      << " bytes): reader " << shown(product.value, product.end)
                      << ", exact reader " << shown(exact.value, exact.end);
    }
    return shown(product.value, product.end);
}

TEST(NumberReader, TableRowsReadAsWritten) {
    std::ifstream table(KELVOR_READER_TABLE);
    int64_t rows = 0, mismatches = 0;
    std::string line;
    for (int number = 1; std::getline(table, line); ++number) {
        if (!line.empty() && line[0] != '#') {  // escaped text, value, end offset; TAB-separated
            const size_t tab = line.find('\t');
            const auto text = Unescape(line.substr(0, tab));
            std::istringstream columns(tab == line.npos ? "" : line.substr(tab));
            int64_t value = 0, end = 0;
            ASSERT_TRUE(text && columns >> value >> end) << "reader_table.txt:" << number;
            EXPECT_EQ(Compare(*text, mismatches), std::to_string(value) + " " + std::to_string(end))
                << "reader_table.txt:" << number;
            ++rows;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(rows, 0) << KELVOR_READER_TABLE;
}

struct LongText {
    std::string text;
    int32_t value;
    size_t end;
};

TEST(NumberReader, LongTextsKeepNineteenDigitsAndTheBound) {
    const std::string zeros4940(4940, '0');
    const std::string bounded = "0." + std::string(32765, '0') + "1";
    const std::string longExponent = "1e-" + std::string(40000, '0') + "5x";
    const LongText kTexts[] = {
        // The exponent alone is below -4932, so the value is 0 however many digits stand before it.
        {"1" + zeros4940 + "e-4933", 0, 4941 + 6},
        {"1" + zeros4940 + "e-4932", 100000000, 4941 + 6},
        // The number stops after its 32,767th character, as if the text ended there; the
        // sign counts, the white space in front does not.
        {bounded, 0, 32767},
        {"0." + std::string(32764, '0') + "1", 0, 32767},
        {"  \t\n" + bounded, 0, 4 + 32767},
        {std::string(32766, '0') + "7", 7, 32767},
        {std::string(32767, '0') + "7", 0, 32767},
        {"+" + std::string(32765, '0') + "9", 9, 32767},
        {"+" + std::string(32766, '0') + "9", 0, 32767},
        {std::string(32766, '0') + "e5", 0, 32767},
        // Exponent digits past the bound do not belong to the number.
        {longExponent, 1, 32767},
        // Overflowed exponents still consume their digits.
        {"7e" + std::string(100, '9') + "x", kUnrepresentable, 102},
        {"7e-" + std::string(100, '9') + "x", 0, 103},
        {"0e" + std::string(100, '9'), 0, 102},
    };
    int64_t mismatches = 0;
    for (const LongText& row : kTexts) {
        EXPECT_EQ(Compare(row.text, mismatches),
                  std::to_string(row.value) + " " + std::to_string(row.end))
            << "text of " << row.text.size() << " characters";
    }
    EXPECT_EQ(mismatches, 0);
}

// What scanning found, comparable as a whole: form, sign, accumulator, significant
// digits, point position, exponent (0 once it has overflowed), overflow mark, end.
using Scan = std::tuple<NumberForm, bool, uint64_t, int32_t, int32_t, int32_t, bool, size_t>;

TEST(NumberReader, ScanningSeparatesDigitsPointAndExponent) {
    using enum NumberForm;
    const std::pair<const char*, Scan> kScans[] = {
        {"123.456e2", {Finite, false, 123456, 6, 3, 2, false, 9}},
        {"0.0001e4", {Finite, false, 1, 1, -3, 4, false, 8}},
        {"-00.0", {Finite, true, 0, 0, -1, 0, false, 5}},
        {"12345678901234567890123", {Finite, false, 1234567890123456789, 23, 23, 0, false, 23}},
        {"1e4933", {Finite, false, 1, 1, 1, 0, true, 6}},
        {"1e-4932", {Finite, false, 1, 1, 1, -4932, false, 7}},
        {"-INF", {Infinity, true, 0, 0, 0, 0, false, 4}},
        {"+NAN", {NotANumber, false, 0, 0, 0, 0, false, 4}},
        {" -x", {None, true, 0, 0, 0, 0, false, 0}},
    };
    for (const auto& [text, want] : kScans) {
        const ScannedNumber got = ScanNumber(text);
        EXPECT_EQ(
            Scan(got.form, got.negative, got.accumulator, got.significantDigits, got.pointPosition,
                 got.exponentOverflow ? 0 : got.exponent, got.exponentOverflow, got.end - text),
            want)
            << text;
    }
}

// Short texts cut off at every length: the reader must stop at each NUL, and a
// failed read must leave the position where it was.
TEST(NumberReader, EveryPrefixStaysInsideItsText) {
    const std::string samples[] = {"  -12.5e+7x", "+INF", "-NAN", "\t.e5", "1e--5", "0.000e-0"};
    for (const std::string& sample : samples) {
        for (size_t length = 0; length <= sample.size(); ++length) {
            const auto text = ExactCopy(sample.substr(0, length));
            const NumberRead read = ReadNumber(text.get());
            ASSERT_GE(read.end, text.get());
            ASSERT_LE(read.end, text.get() + length) << sample.substr(0, length);
            if (read.end == text.get()) {
                EXPECT_EQ(read.value, 0) << sample.substr(0, length);
            }
        }
    }
}

// The generator: texts biased towards the places where readers go wrong, with
// the choices of the earlier Python generator (whose random numbers, and so
// whose texts, cannot be reproduced here).
int64_t Between(Rng& rng, int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(rng);
}

template <typename T>
T Pick(Rng& rng, std::initializer_list<T> items) {
    return items.begin()[Between(rng, 0, std::ssize(items) - 1)];
}

std::string Picks(Rng& rng, std::string_view alphabet, int64_t count) {
    std::string text;
    for (; count > 0; --count) {
        text += alphabet[Between(rng, 0, std::ssize(alphabet) - 1)];
    }
    return text;
}

std::string Decimal(U128 n) {
    return (n >= 10 ? Decimal(n / 10) : "") + static_cast<char>('0' + n % 10);
}

std::string PointAt(const std::string& digits, int64_t at) {
    return digits.substr(0, at) + "." + digits.substr(at);
}

std::string Junk(Rng& rng) {
    constexpr char kJunk[] = ".eE+-0123456789xX,INFAnaf \t\"\\/\x00\xa0";
    return Picks(rng, {kJunk, sizeof(kJunk) - 1}, Pick(rng, {0, 0, 0, 1, 1, 2, 4}));
}

std::string Sign(Rng& rng) {
    return Pick(rng, {"", "", "", "+", "-"});
}

std::string SignAndZeros(Rng& rng) {
    return Sign(rng) + std::string(Pick(rng, {0, 0, 0, 0, 1, 2, 5, 25}), '0');
}

// Integers near the field limits and the 64-bit range, in many spellings; the
// point moved into the digits or zeros moved into the exponent.
std::string BoundaryInteger(Rng& rng) {
    const U128 base = Pick<U128>(
        rng, {0, 1, 6, 7, 60000, U128{1} << 31, U128{1} << 32, U128{1} << 63, U128{1} << 64,
              1000000000000000000u, 10000000000000000000u, U128{10000000000000000000u} * 10,
              U128{1} << 53, U128{1} << 62, U128{3} << 31});
    const int64_t offset = Between(rng, -5, 5);
    const std::string digits = Decimal(offset < 0 && base < U128(-offset) ? 0 : base + offset);
    const int64_t at = Between(rng, 0, std::ssize(digits));
    const int64_t shift = std::ssize(digits) - at + Pick(rng, {0, 0, 0, 1, -1, 2, -2});
    const std::string forms[] = {
        digits,
        digits + Pick(rng, {".", ".0", ".5", ".49", ".9", ".999999999", ".99999999999999999999",
                            ".00000000000000000001"}),
        PointAt(digits, at) + Pick(rng, {"e", "E"}) + std::to_string(shift),
        digits + "000" + Pick(rng, {"e-3", "E-3", "e-03", "e-4", "e-2"}),
        "0." + std::string(Between(rng, 0, 3), '0') + digits + "e" +
            std::to_string(std::ssize(digits) + Between(rng, 0, 4)),
        digits + Pick(rng, {"e0", "e+0", "e-0", "e", "e+", "e-", "E1"}),
    };
    return SignAndZeros(rng) + forms[Between(rng, 0, 5)];
}

// 18 to 40 significant digits, and runs of nines below an integer.
std::string SignificantDigits(Rng& rng) {
    const int64_t count = Pick(rng, {18, 19, 19, 20, 20, 21, 22, 25, 40});
    const std::string head = std::to_string(Between(rng, 1, 99999));
    const std::string digits = Picks(rng, "123456789", 1) + Picks(rng, "0123456789", count - 1);
    const std::string forms[] = {
        head + "." + std::string(std::max(int64_t{1}, count - std::ssize(head)), '9'),
        PointAt(digits, Between(rng, 0, count)), digits};
    // 40% nines, 42% with a point, 18% without
    return SignAndZeros(rng) + forms[std::discrete_distribution<int>({40, 42, 18})(rng)] +
           Pick<std::string>(rng, {"", "e" + std::to_string(Between(rng, -25, 25))});
}

// Few digits with a scale near -19..19, where the power of ten is exact.
std::string Scaled(Rng& rng) {
    const auto power = static_cast<uint64_t>(std::pow(10.0, Between(rng, 1, 19)));  // exact
    std::string digits = Decimal(Pick<uint64_t>(
        rng, {1, 3, 5, 9, 25, 125, 999, std::uniform_int_distribution<uint64_t>(1, power)(rng)}));
    digits = Between(rng, 0, 1) ? PointAt(digits, Between(rng, 0, std::ssize(digits))) : digits;
    return Sign(rng) + digits + Pick(rng, {"e", "E"}) + std::to_string(Between(rng, -22, 22));
}

// Exponents around the limit of 4932 and far past it, behind long mantissas too.
std::string BigExponent(Rng& rng) {
    const std::string mantissa = Pick<std::string>(
        rng, {"0", "0.0", "1", "9", "99999", "0.0001", ".1", "1" + std::string(30, '0'),
              "0." + std::string(4940, '0') + "1", "1" + std::string(4940, '0')});
    return Sign(rng) + mantissa + "e" + Pick(rng, {"", "+", "-"}) +
           std::string(Between(rng, 0, 9) < 3 ? Between(rng, 1, 6) : 0, '0') +
           std::to_string(Pick<int64_t>(rng, {4930, 4931, 4932, 4933, 4934, 9999, 49320,
                                              int64_t{1} << 31, (int64_t{1} << 32) + 4932})) +
           Junk(rng);
}

std::string Text(Rng& rng) {
    const int64_t pick = Between(rng, 0, 99);
    const std::string core =
        pick < 28   ? BoundaryInteger(rng)
        : pick < 48 ? SignificantDigits(rng)
        : pick < 63 ? Scaled(rng)
        : pick < 68 ? BigExponent(rng)
        : pick < 74 ? Pick(rng, {"+", "-", "", "+ ", "--"}) +
                          Pick<std::string>(
                              rng, {"INF", "NAN", "Inf", "NaN", "IN", "NA", "I", "N", "INFINITY",
                                    "NANx", "IN5", "INF5", "NAN.5", "inf", "nan", "INf"})
                    : Picks(rng, "012345678901234567890123456789..eE+- \tx", Between(rng, 0, 16));
    constexpr char kNotWhite[] = "\xa0\x85\x1c\x08\x00\xff";
    return Picks(rng, {kNotWhite, 6}, Between(rng, 0, 99) < 3) +
           Picks(rng, " \t\n\v\f\r", Pick(rng, {0, 0, 0, 1, 1, 2, 3, 8})) + core + Junk(rng);
}

TEST(ReaderReference, GeneratedTextsAgree) {
    Rng rng(20240607);
    int64_t mismatches = 0;
    for (int i = 0; i < 100000; ++i) {
        Compare(Text(rng), mismatches);
    }
    EXPECT_EQ(mismatches, 0) << "of 100,000 texts";
}

// Every form at each distance up to 4 from the 32,767-character bound, with each
// sign, and white space in front (which does not count).
TEST(ReaderReference, TextsAroundTheBoundAgree) {
    Rng rng(20240607);
    int64_t mismatches = 0;
    for (int64_t n = 32767 - 4; n <= 32767 + 4; ++n) {
        for (const std::string& lead :
             {std::string(), std::string(3, ' '), std::string(40000, ' ')}) {
            for (const std::string sign : {"", "+", "-"}) {
                const size_t room = n - sign.size();
                const std::string forms[] = {
                    "0." + std::string(room - 2, '0') + "1",  // the 1 near the bound
                    "1" + std::string(room - 1, '0') + "e-" +
                        std::to_string(n),                    // the exponent mark
                    std::string(room, '0') + "7",             // leading zeros, a digit at the bound
                    "5e" + std::string(room - 3, '0') + "1",  // exponent digits through the bound
                    "3." + std::string(room, '9'),            // nines behind the point
                    "1111111111." + std::string(room - 13, '0') + "e9",
                    std::string(room - 2, '1') + "e-5",  // the exponent's sign at the bound
                };
                for (const std::string& form : forms) {
                    Compare(lead + sign + form + Junk(rng), mismatches);
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of 9 * 3 * 3 * 7 texts";
}

// Every text of up to 8 characters over the characters that steer a read. Off by
// default; run it with GTEST_ALSO_RUN_DISABLED_TESTS=1 and
// --gtest_filter='*Exhaustive*' on build/native/tests/unit_tests.
TEST(ReaderReference, DISABLED_ExhaustiveShortTexts) {
    constexpr std::string_view kAlphabet = "0159.e+- ";
    int64_t texts = 0, mismatches = 0;
    for (size_t length = 0, count = 1; length <= 8; ++length, count *= kAlphabet.size()) {
        for (size_t code = 0; code < count; ++code) {
            std::string text(length, ' ');  // `code`, written in base kAlphabet.size()
            for (size_t i = 0, rest = code; i < length; ++i, rest /= kAlphabet.size()) {
                text[i] = kAlphabet[rest % kAlphabet.size()];
            }
            Compare(text, mismatches);
            ++texts;
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << texts << " texts";
}

}  // namespace
