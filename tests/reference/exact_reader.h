// The tests' exact number reader: its own scanner, and the one rounding to 64
// significant bits carried out in integers. It shares no code with the product's
// reader, which number_reader_test.cpp and fuzz_reader compare with it.
#pragma once

#include <cstdint>

namespace exact_reader {

struct Read {
    int32_t value;
    const char* end;  // behind the number; the start of the text when there is none
};

// Reads the number at the start of the NUL-terminated `text`. Infinities, NaNs,
// truncated values outside the signed 64-bit range and overflowing exponents read
// as INT32_MIN.
Read ReadNumber(const char* text);

}  // namespace exact_reader
