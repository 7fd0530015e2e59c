// Fuzzes the cut of the program's name off the raw command line: the result is
// always the command line's own tail, never past its NUL, the text is not
// changed, and the cut agrees with a plain restatement of the byte rules.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "argument_text.h"
#include "fuzz_input.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The same byte rules, said with the C library's span functions instead of the
// product's loops: skip blanks; a quoted name runs to the next quote or TAB and
// drops its closing quote; an unquoted name runs to the next blank; skip blanks.
const char* ExpectedCut(const char* line) {
    size_t at = std::strspn(line, " \t");
    if (line[at] == '"') {
        at += 1 + std::strcspn(line + at + 1, "\"\t");
        at += line[at] == '"' ? 1 : 0;
    } else {
        at += std::strcspn(line + at, " \t");
    }
    return line + at + std::strspn(line + at, " \t");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::ExactText line(data, size);

    const char* cut = CutArgumentText(line.data());
    FUZZ_CHECK(cut != nullptr);
    FUZZ_CHECK(cut >= line.data() && cut <= line.data() + line.length());
    FUZZ_CHECK(cut == ExpectedCut(line.data()));
    // What stands in front of the cut may only be the name and blanks, so the
    // argument text never starts with a blank.
    FUZZ_CHECK(!IsBlank(*cut));
    FUZZ_CHECK(line.Unchanged());

    FUZZ_CHECK(CutArgumentText(nullptr) == nullptr);
    return 0;
}
