// A second number reader, written for the differential fuzz target: its own
// scanner and an exact integer evaluation, sharing no code with the product.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exact_reader {

struct Read {
    int32_t value;
    size_t end;  // offset into the text
};

// Reads the number at the start of the NUL-terminated `text`. Infinities, NaNs,
// values whose truncation lies outside the signed 64-bit range and overflowing
// exponents read as INT32_MIN.
Read ReadNumber(const char* text);

}  // namespace exact_reader
