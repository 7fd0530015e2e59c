// A stand-in for Windows in kelvor-cpus's native tests and fuzzing: every call is
// recorded with its arguments, in order, and answers come from a script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cpus_platform.h"

namespace test_cpus_platform {

enum class Function { GetProcessorAnswer, PutTextOnClipboard, ShowBox };

struct Call {
    Function function;
    uint32_t capacity = 0;  // GetProcessorAnswer: the bytes offered
    std::string text;       // the clipboard's or the box's text
    std::string caption;
    uint32_t style = 0;
};

// What the stand-in answers. An answer longer than the bytes offered fails as
// Windows does, with ERROR_INSUFFICIENT_BUFFER and the need.
struct Script {
    std::vector<uint8_t> answer;
    uint32_t error = 0;  // not 0: the call fails with this error
    bool clipboardTakesText = true;
};

void Reset(const Script& script);
const std::vector<Call>& Calls();

}  // namespace test_cpus_platform
