// Fuzzes the number reader with arbitrary text and checks what must hold for any
// input: where a read may end, what a failed read gives, that scanning and
// evaluation agree with the combined read, and that every read gives the value
// and end of the tests' exact reader (tests/reference/exact_reader.cpp).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "number_reader.h"
#include "reference/exact_reader.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One read from `cursor` inside a text that ends at `textEnd`; returns its end.
const char* CheckRead(const char* cursor, const char* textEnd) {
    const NumberRead read = ReadNumber(cursor);
    const exact_reader::Read exact = exact_reader::ReadNumber(cursor);
    FUZZ_CHECK(read.value == exact.value && read.end == exact.end);
    const char* number = cursor;
    while (IsWhiteSpace(*number)) {
        ++number;
    }
    FUZZ_CHECK(read.end >= cursor && read.end <= textEnd);
    if (read.end == cursor) {
        // A failed read: no value, and the position stays in front of the white space.
        FUZZ_CHECK(read.value == 0);
        FUZZ_CHECK(!IsDigit(*number));
    } else {
        // A number starts after the white space and takes at most the bound.
        FUZZ_CHECK(read.end > number);
        FUZZ_CHECK(read.end - number <= kNumberBound);
        // It holds a digit unless it is a word after a sign, and a number never
        // ends in the middle of a digit run unless the bound cut it there.
        bool hasDigit = false;
        for (const char* p = number; p < read.end; ++p) {
            hasDigit = hasDigit || IsDigit(*p);
        }
        const bool isWord =
            read.end - number == 4 && (number[0] == '+' || number[0] == '-') &&
            (std::memcmp(number + 1, "INF", 3) == 0 || std::memcmp(number + 1, "NAN", 3) == 0);
        FUZZ_CHECK(hasDigit || isWord);
        if (isWord) {
            FUZZ_CHECK(read.value == kUnrepresentable);
        }
        if (read.end - number < kNumberBound && read.end > number && IsDigit(read.end[-1])) {
            FUZZ_CHECK(!IsDigit(*read.end));
        }
    }
    // Scanning decides the end alone, evaluation the value alone.
    const ScannedNumber scanned = ScanNumber(cursor);
    FUZZ_CHECK(scanned.end == read.end);
    FUZZ_CHECK(EvaluateNumber(scanned) == read.value);
    FUZZ_CHECK((scanned.form == NumberForm::None) == (read.end == cursor));
    return read.end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::ExactText text(fuzz_input::ExpandText(data, size));
    const char* textEnd = text.data() + text.length();

    // Read field after field as the launch sequence does, each from the end of the
    // one before, until a read fails; a read never goes backwards.
    const char* cursor = text.data();
    for (;;) {
        const char* end = CheckRead(cursor, textEnd);
        FUZZ_CHECK(end >= cursor);
        if (end == cursor) {
            break;
        }
        cursor = end;
    }
    // Starting inside the leading white space changes where a failed read stays,
    // but not what a number is worth or where it ends.
    const NumberRead whole = ReadNumber(text.data());
    if (whole.end != text.data() && IsWhiteSpace(text.data()[0])) {
        const NumberRead inner = ReadNumber(text.data() + 1);
        FUZZ_CHECK(inner.value == whole.value && inner.end == whole.end);
    }
    // The reader never writes to the text.
    FUZZ_CHECK(text.Unchanged());
    return 0;
}
