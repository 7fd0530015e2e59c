// ns per field for ReadNumber, strtold and std::from_chars (double), each over
// the same corpus of texts like those a user types into the three fields.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "number_reader.h"

namespace {

// Plain fields, fields followed by the target's command line, and the odd forms
// the reader accepts or stops at.
constexpr const char* kCorpus[] = {
    "1",
    "3",
    "255",
    "60000",
    "1000 notepad",
    "4294967297",
    "3.9",
    "1e3",
    " 15e-1",
    "0x3",
    "0",
    "6",
    "16",
    "100",
    "15 3 1000 x",
    "-1",
    "+7",
    "007",
    "0.6e5",
    "2.5",
    "4294967295",
    "2147483648",
    "60000.9",
    "1e19",
    "12 game",
    "  42",
    "9999999999999999999999",
    "abc",
    "-0.5",
    "65535",
};
constexpr int kFields = sizeof(kCorpus) / sizeof(kCorpus[0]);

struct Field {
    const char* text;
    size_t length;
};

const Field* Fields() {
    static Field fields[kFields];
    static bool ready = false;
    if (!ready) {
        for (int i = 0; i < kFields; ++i) {
            fields[i] = {kCorpus[i], std::strlen(kCorpus[i])};
        }
        ready = true;
    }
    return fields;
}

// Reads every field of the corpus once per iteration with `read`, whose result
// the compiler must keep.
template <typename Read>
void ReadEveryField(benchmark::State& state, Read read) {
    const Field* fields = Fields();
    for (auto _ : state) {
        for (int i = 0; i < kFields; ++i) {
            auto result = read(fields[i]);
            benchmark::DoNotOptimize(result);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFields);
}

void BM_ReadNumber(benchmark::State& state) {
    ReadEveryField(state, [](const Field& field) { return ReadNumber(field.text); });
}
BENCHMARK(BM_ReadNumber);

void BM_Strtold(benchmark::State& state) {
    ReadEveryField(state, [](const Field& field) {
        char* end = nullptr;
        const long double value = std::strtold(field.text, &end);
        return std::pair{value, end};
    });
}
BENCHMARK(BM_Strtold);

void BM_FromCharsDouble(benchmark::State& state) {
    ReadEveryField(state, [](const Field& field) {
        double value = 0;
        const auto result = std::from_chars(field.text, field.text + field.length, value);
        return std::pair{value, result.ptr};
    });
}
BENCHMARK(BM_FromCharsDouble);

}  // namespace

BENCHMARK_MAIN();
