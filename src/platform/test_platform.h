// A stand-in for Windows in native tests and fuzzing: every platform call is
// recorded with its arguments, in order, and results come from a script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace test_platform {

enum class Function {
    GetCurrentProcess,
    GetProcessAffinityMask,
    CreateProcessA,
    Sleep,
    SetProcessAffinityMask,
    SetPriorityClass,
    MessageBoxA,
};

// One recorded call. Only the fields of its function are filled in; texts are
// copied because the launcher reuses its buffers.
struct Call {
    Function function;
    platform::Handle process = nullptr;  // or the message box's owner
    uint32_t value = 0;                  // milliseconds, mask, class or style
    // CreateProcessA
    const char* applicationName = nullptr;
    const char* commandLine =
        nullptr;  // the pointer itself, to check it points into the argument text
    std::string commandLineText;
    void* processAttributes = nullptr;
    void* threadAttributes = nullptr;
    bool inheritHandles = false;
    void* environment = nullptr;
    const char* currentDirectory = nullptr;
    platform::StartupRecord startup{};
    // MessageBoxA
    std::string text;
    std::string caption;
};

// What the stand-in answers. The defaults describe a healthy four-processor machine.
struct Script {
    platform::Handle ownProcess = reinterpret_cast<platform::Handle>(0x1001);
    bool systemMaskKnown = true;
    uint32_t processMask = 0xF;
    uint32_t systemMask = 0xF;
    bool createSucceeds = true;
    platform::Handle targetProcess = reinterpret_cast<platform::Handle>(0x2002);
    platform::Handle targetThread = reinterpret_cast<platform::Handle>(0x3003);
    bool setAffinitySucceeds = true;
    bool setPrioritySucceeds = true;
};

// Clears the record and installs a new script.
void Reset(const Script& script = Script{});
const std::vector<Call>& Calls();
// The recorded sequence of functions alone, for order checks.
std::vector<Function> Functions();
// The texts of the message boxes, in the order they were shown.
std::vector<std::string> BoxTexts();

}  // namespace test_platform
