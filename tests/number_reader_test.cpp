#include "number_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

// The reader's table of short texts runs through readnum (tests/data); these
// cases need texts built in code, or look at what scanning found.
namespace {

// Copies `text` into a heap block of exactly its size, so AddressSanitizer
// reports any read past the terminating NUL.
std::unique_ptr<char[]> ExactCopy(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.c_str(), text.size() + 1);
    return copy;
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
    for (const LongText& row : kTexts) {
        const auto text = ExactCopy(row.text);
        const NumberRead read = ReadNumber(text.get());
        EXPECT_EQ(read.value, row.value) << "text of " << row.text.size() << " characters";
        EXPECT_EQ(static_cast<size_t>(read.end - text.get()), row.end)
            << "text of " << row.text.size() << " characters";
    }
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

}  // namespace
