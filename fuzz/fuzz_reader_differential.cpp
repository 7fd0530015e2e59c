// Fuzzes the number reader against the tests' exact reader
// (tests/reference/exact_reader.cpp): value and end position must agree for
// every text.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "fuzz_input.h"
#include "number_reader.h"
#include "reference/exact_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::ExactText text(fuzz_input::ExpandText(data, size));
    const NumberRead product = ReadNumber(text.data());
    const exact_reader::Read exact = exact_reader::ReadNumber(text.data());
    if (product.value != exact.value || product.end != exact.end) {
        std::fprintf(stderr, "reader: %" PRId32 " %td, exact reader: %" PRId32 " %td\n",
                     product.value, product.end - text.data(), exact.value,
                     exact.end - text.data());
    }
    FUZZ_CHECK(product.value == exact.value);
    FUZZ_CHECK(product.end == exact.end);
    return 0;
}
