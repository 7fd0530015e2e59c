// Fuzzes the number reader against an independent exact reader: value and end
// position must agree for every text.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "exact_reader.h"
#include "fuzz_input.h"
#include "number_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::ExactText text(fuzz_input::ExpandText(data, size));
    const NumberRead product = ReadNumber(text.data());
    const exact_reader::Read exact = exact_reader::ReadNumber(text.data());
    const size_t productEnd = static_cast<size_t>(product.end - text.data());
    if (product.value != exact.value || productEnd != exact.end) {
        std::printf("reader: %" PRId32 " %zu, exact reader: %" PRId32 " %zu\n", product.value,
                    productEnd, exact.value, exact.end);
    }
    FUZZ_CHECK(product.value == exact.value);
    FUZZ_CHECK(productEnd == exact.end);
    return 0;
}
