// Fuzzes the cut of the program's name off the raw command line: the result is
// always the command line's own tail, never past its NUL, the text is not
// changed, and the cut agrees with a plain restatement of the byte rules.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "argument_text.h"
#include "fuzz_input.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The argument text by the rules: skip blanks; a quoted name runs to the next
// quote, TAB or end, and its closing quote is dropped; an unquoted name runs to
// the next space, TAB or end; skip blanks; the rest is the argument text.
const char* ExpectedCut(const char* line) {
    const char* p = line;
    while (IsBlank(*p)) {
        ++p;
    }
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"' && *p != '\t') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && !IsBlank(*p)) {
            ++p;
        }
    }
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::ExactText line(data, size);
    const std::vector<char> before(line.data(), line.data() + line.size() + 1);

    const char* cut = CutArgumentText(line.data());
    FUZZ_CHECK(cut != nullptr);
    FUZZ_CHECK(cut >= line.data() && cut <= line.data() + line.length());
    FUZZ_CHECK(cut == ExpectedCut(line.data()));
    // What stands in front of the cut may only be the name and blanks, so the
    // argument text never starts with a blank.
    FUZZ_CHECK(!IsBlank(*cut));
    FUZZ_CHECK(std::memcmp(before.data(), line.data(), before.size()) == 0);

    FUZZ_CHECK(CutArgumentText(nullptr) == nullptr);
    return 0;
}
