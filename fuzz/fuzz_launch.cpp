// Fuzzes the whole launch sequence through WinMain over the recording test
// platform: arbitrary argument text and arbitrary platform answers. Checks the
// rules every run must keep, then the recorded calls against a model of the
// sequence built on the number reader.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "launch_sequence.h"
#include "messages.h"
#include "number_reader.h"
#include "test_platform.h"

namespace {

using test_platform::Call;
using test_platform::Function;

constexpr uint32_t kFallbackMask = 0x3FFFFFFF;
constexpr uint32_t kClasses[] = {0x40, 0x4000, 0x20, 0x8000, 0x80, 0x100};

bool StartsWith(const std::string& text, const char* head) {
    return text.compare(0, std::strlen(head), head) == 0;
}

// What the run should record, from the argument text and the script.
struct Expected {
    std::vector<Function> functions;
    std::vector<const char*> headings;  // one per message box
    const char* commandLine = nullptr;
    uint32_t delay = 0;
    uint32_t mask = 0;
    uint32_t priorityClass = 0;
};

Expected Model(char* text, const test_platform::Script& script) {
    Expected e;
    auto box = [&](const char* heading) {
        e.functions.push_back(Function::MessageBoxA);
        e.headings.push_back(heading);
    };
    auto error = [&](const char* detailHead) {
        box(detailHead);
        box("USAGE:\t");
    };
    if (text == nullptr || *text == '\0') {
        box("USAGE:\t");
        return e;
    }
    e.functions.push_back(Function::GetCurrentProcess);
    e.functions.push_back(Function::GetProcessAffinityMask);
    uint32_t systemMask = script.systemMask;
    if (!script.systemMaskKnown) {
        box("Warning:\n\n");
        systemMask = kFallbackMask;
    }
    const NumberRead affinity = ReadNumber(text);
    if (affinity.value < 0 || (static_cast<uint32_t>(affinity.value) & systemMask) == 0) {
        error("Error:\n\nThe specified affinity mask");
        return e;
    }
    const NumberRead priority = ReadNumber(affinity.end);
    if (priority.value < 1 || priority.value > 6) {
        error("Error:\n\nYou must specify a priority");
        return e;
    }
    const NumberRead delay = ReadNumber(priority.end);
    if (delay.value < 0 || delay.value > 60000) {
        error("Error:\n\nYou must specify a delay");
        return e;
    }
    const char* command = delay.end;
    while (*command == ' ') {
        ++command;
    }
    if (*command == '\0') {
        box("USAGE:\t");
        return e;
    }
    e.commandLine = command;
    e.functions.push_back(Function::CreateProcessA);
    if (!script.createSucceeds) {
        error("Error:\n\nCreateProcess() failed");
        return e;
    }
    e.functions.push_back(Function::Sleep);
    e.functions.push_back(Function::SetProcessAffinityMask);
    e.functions.push_back(Function::SetPriorityClass);
    e.delay = static_cast<uint32_t>(delay.value);
    e.mask = static_cast<uint32_t>(affinity.value) & systemMask;
    e.priorityClass = kClasses[priority.value - 1];
    return e;
}

}  // namespace

// Input: flags (1 byte), system mask (4 bytes), process mask (4 bytes), then the
// argument text. Flags: bit 0 mask unknown, bit 1 creation fails, bit 2 setting
// the mask fails, bit 3 setting the class fails, bit 4 no argument text at all.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Fields fields(data, size);
    const uint8_t flags = fields.Byte();
    test_platform::Script script;
    script.systemMaskKnown = (flags & 1) == 0;
    script.systemMask = fields.Word();
    script.processMask = fields.Word();
    script.createSucceeds = (flags & 2) == 0;
    script.setAffinitySucceeds = (flags & 4) == 0;
    script.setPrioritySucceeds = (flags & 8) == 0;
    fuzz_input::ExactText argument(fields.rest(), fields.restSize());
    char* text = (flags & 16) ? nullptr : argument.data();
    const std::vector<char> before(argument.data(), argument.data() + argument.size() + 1);
    const char* textEnd = argument.data() + argument.length();

    test_platform::Reset(script);
    FUZZ_CHECK(WinMain(nullptr, nullptr, text, 10) == 0);
    const std::vector<Call>& calls = test_platform::Calls();

    // Rules every run keeps, whatever the input.
    int errorBoxes = 0;
    int creates = 0;
    bool created = false;
    bool failed = false;
    for (const Call& call : calls) {
        switch (call.function) {
            case Function::MessageBoxA:
                FUZZ_CHECK(call.caption == kMessageCaption && call.value == kMessageStyle);
                if (StartsWith(call.text, "Error:\n\n")) {
                    ++errorBoxes;
                    failed = true;
                }
                break;
            case Function::CreateProcessA:
                FUZZ_CHECK(!failed);
                ++creates;
                FUZZ_CHECK(text != nullptr);
                // A suffix of the argument text, handed over in place.
                FUZZ_CHECK(call.commandLine >= text && call.commandLine < textEnd);
                FUZZ_CHECK(call.commandLineText == call.commandLine);
                FUZZ_CHECK(call.applicationName == nullptr && call.value == 0);
                FUZZ_CHECK(!call.inheritHandles && call.environment == nullptr);
                FUZZ_CHECK(call.processAttributes == nullptr && call.threadAttributes == nullptr);
                FUZZ_CHECK(call.currentDirectory == nullptr && call.startup.cb == 68);
                created = script.createSucceeds;
                break;
            case Function::Sleep:
                FUZZ_CHECK(created);
                FUZZ_CHECK(call.value <= 60000);
                break;
            case Function::SetProcessAffinityMask: {
                FUZZ_CHECK(created && call.process == script.targetProcess);
                const uint32_t systemMask =
                    script.systemMaskKnown ? script.systemMask : kFallbackMask;
                FUZZ_CHECK(call.value != 0 && (call.value & ~systemMask) == 0);
                break;
            }
            case Function::SetPriorityClass: {
                FUZZ_CHECK(created && call.process == script.targetProcess);
                bool known = false;
                for (uint32_t c : kClasses) {
                    known = known || call.value == c;
                }
                FUZZ_CHECK(known);
                break;
            }
            case Function::GetCurrentProcess:
            case Function::GetProcessAffinityMask:
                break;
        }
    }
    FUZZ_CHECK(errorBoxes <= 1);
    FUZZ_CHECK(creates <= 1);

    // The recorded calls, exactly as the model has them.
    const Expected expected = Model(text, script);
    FUZZ_CHECK(test_platform::Functions() == expected.functions);
    size_t box = 0;
    for (const Call& call : calls) {
        if (call.function == Function::MessageBoxA) {
            FUZZ_CHECK(StartsWith(call.text, expected.headings[box]));
            ++box;
        } else if (call.function == Function::CreateProcessA) {
            FUZZ_CHECK(call.commandLine == expected.commandLine);
        } else if (call.function == Function::Sleep) {
            FUZZ_CHECK(call.value == expected.delay);
        } else if (call.function == Function::SetProcessAffinityMask) {
            FUZZ_CHECK(call.value == expected.mask);
        } else if (call.function == Function::SetPriorityClass) {
            FUZZ_CHECK(call.value == expected.priorityClass);
        }
    }
    // The failed launch names the command line in its box.
    if (expected.commandLine != nullptr && !script.createSucceeds) {
        const std::string& launchBox = calls[calls.size() - 2].text;
        FUZZ_CHECK(launchBox.find(expected.commandLine) != std::string::npos ||
                   std::strlen(expected.commandLine) > 4046);
    }
    // The argument text is never changed.
    FUZZ_CHECK(std::memcmp(before.data(), argument.data(), before.size()) == 0);
    return 0;
}
