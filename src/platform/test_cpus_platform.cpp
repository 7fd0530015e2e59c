#include "test_cpus_platform.h"

#include <algorithm>

namespace test_cpus_platform {
namespace {

Script current;
std::vector<Call> calls;

Call& Record(Function function) {
    calls.push_back(Call{});
    calls.back().function = function;
    return calls.back();
}

}  // namespace

void Reset(const Script& script) {
    current = script;
    calls.clear();
}

const std::vector<Call>& Calls() {
    return calls;
}

}  // namespace test_cpus_platform

namespace cpus_platform {

using test_cpus_platform::current;
using test_cpus_platform::Function;
using test_cpus_platform::Record;

bool GetProcessorAnswer(uint8_t* answer, uint32_t* length, uint32_t* error) {
    Record(Function::GetProcessorAnswer).capacity = *length;
    if (current.error != 0) {
        *error = current.error;
        return false;
    }
    const auto need = static_cast<uint32_t>(current.answer.size());
    if (need > *length) {
        *error = 122;  // ERROR_INSUFFICIENT_BUFFER
        *length = need;
        return false;
    }
    std::copy(current.answer.begin(), current.answer.end(), answer);
    *length = need;
    return true;
}

bool PutTextOnClipboard(const char* text, int length) {
    Record(Function::PutTextOnClipboard).text.assign(text, static_cast<size_t>(length));
    return current.clipboardTakesText;
}

void ShowBox(const char* text, const char* caption, uint32_t style) {
    test_cpus_platform::Call& call = Record(Function::ShowBox);
    call.text = text;
    call.caption = caption;
    call.style = style;
}

}  // namespace cpus_platform
