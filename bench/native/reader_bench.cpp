// ns per field for ReadNumber, strtold and std::from_chars (double), each over
// the same corpus of texts like those a user types into the three fields.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "number_reader.h"

namespace {

// Plain fields, fields followed by the target's command line, and the odd forms
// the reader accepts or stops at: one field a line.
constexpr char kCorpus[] =
    "1\n3\n255\n60000\n1000 notepad\n4294967297\n3.9\n1e3\n 15e-1\n0x3\n0\n6\n16\n100\n"
    "15 3 1000 x\n-1\n+7\n007\n0.6e5\n2.5\n4294967295\n2147483648\n60000.9\n1e19\n12 game\n"
    "  42\n9999999999999999999999\nabc\n-0.5\n65535\n";

// Reads every field of the corpus, each its own NUL-terminated string, once per
// iteration with `read`, whose result the compiler must keep.
template <typename Read>
void ReadEveryField(benchmark::State& state, Read read) {
    std::vector<std::string> fields;
    std::istringstream lines(kCorpus);
    for (std::string line; std::getline(lines, line);) {
        fields.push_back(line);
    }
    for (auto _ : state) {
        for (const std::string& field : fields) {
            auto result = read(field);
            benchmark::DoNotOptimize(result);
        }
    }
    state.SetItemsProcessed(state.iterations() * fields.size());
}

void BM_ReadNumber(benchmark::State& state) {
    ReadEveryField(state, [](const std::string& field) { return ReadNumber(field.c_str()); });
}
BENCHMARK(BM_ReadNumber);

void BM_Strtold(benchmark::State& state) {
    ReadEveryField(state, [](const std::string& field) {
        char* end = nullptr;
        const long double value = std::strtold(field.c_str(), &end);
        return std::pair{value, end};
    });
}
BENCHMARK(BM_Strtold);

void BM_FromCharsDouble(benchmark::State& state) {
    ReadEveryField(state, [](const std::string& field) {
        double value = 0;
        const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
        return std::pair{value, result.ptr};
    });
}
BENCHMARK(BM_FromCharsDouble);

}  // namespace

BENCHMARK_MAIN();
