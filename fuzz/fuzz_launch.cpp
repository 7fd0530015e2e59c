// Fuzzes the whole launch sequence through WinMain over the recording test
// platform: arbitrary argument text and arbitrary platform answers. Checks the
// recorded calls against the rules a run must keep: which box a refused field
// gets, what is started and with which mask, class and delay, and in what order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "facts.h"
#include "fuzz_input.h"
#include "launch_sequence.h"
#include "messages.h"
#include "number_reader.h"
#include "test_platform.h"

namespace {

using test_platform::Call;
using test_platform::Function;

using enum MessageKind;

constexpr int32_t kHighestPriority = sizeof(facts::kPriorityClasses) / sizeof(uint32_t);

// The kind of box a text belongs to, or -1 for a text the facts do not know.
int BoxKind(const std::string& text) {
    for (int kind = 0; kind < static_cast<int>(LaunchFailed); ++kind) {
        if (text == facts::kBoxTexts[kind]) {
            return kind;
        }
    }
    if (text.size() >= facts::LaunchFailedText("").size() &&
        text.starts_with(facts::launch_failed_head) && text.ends_with(facts::launch_failed_tail)) {
        return static_cast<int>(LaunchFailed);
    }
    return -1;
}

bool IsBox(const Call& call, MessageKind kind) {
    return call.function == Function::MessageBoxA && BoxKind(call.text) == static_cast<int>(kind);
}

// The three fields as the number reader sees them, and the command line after them:
// the rest of the text once the spaces behind the delay are skipped.
struct Fields {
    NumberRead affinity;
    NumberRead priority;
    NumberRead delay;
    const char* command;
};

Fields ReadFields(const char* text) {
    Fields f{ReadNumber(text), {}, {}, nullptr};
    f.priority = ReadNumber(f.affinity.end);
    f.delay = ReadNumber(f.priority.end);
    f.command = f.delay.end + std::strspn(f.delay.end, " ");
    return f;
}

// Checks the calls from `next` on for a run whose three fields all passed.
void CheckStarted(const std::vector<Call>& calls, size_t next, const char* text,
                  const char* textEnd, const Fields& f, uint32_t systemMask,
                  const test_platform::Script& script) {
    // Nothing to start: the usage box alone.
    if (*f.command == '\0') {
        FUZZ_CHECK(calls.size() == next + 1 && IsBox(calls[next], Usage));
        return;
    }
    // The target's command line is a suffix of the argument text, handed over in
    // place, without the spaces in front of it.
    FUZZ_CHECK(calls.size() > next && calls[next].function == Function::CreateProcessA);
    const Call& create = calls[next];
    FUZZ_CHECK(create.commandLine == f.command);
    FUZZ_CHECK(create.commandLine >= text && create.commandLine < textEnd);
    FUZZ_CHECK(*create.commandLine != ' ' && create.commandLineText == create.commandLine);
    if (!script.createSucceeds) {
        // The failure box names the command line (cut only when too long for it),
        // usage follows, and nothing waits or is changed.
        FUZZ_CHECK(calls.size() == next + 3 && IsBox(calls[next + 1], LaunchFailed) &&
                   IsBox(calls[next + 2], Usage));
        FUZZ_CHECK(calls[next + 1].text == facts::LaunchFailedText(create.commandLine));
        return;
    }
    // Started: wait, then mask, then class, all on the target, and nothing after.
    FUZZ_CHECK(calls.size() == next + 4);
    const Call& sleep = calls[next + 1];
    const Call& mask = calls[next + 2];
    const Call& priorityClass = calls[next + 3];
    FUZZ_CHECK(sleep.function == Function::Sleep);
    FUZZ_CHECK(mask.function == Function::SetProcessAffinityMask);
    FUZZ_CHECK(priorityClass.function == Function::SetPriorityClass);
    FUZZ_CHECK(sleep.value == static_cast<uint32_t>(f.delay.value));
    FUZZ_CHECK(mask.process == script.targetProcess && priorityClass.process == mask.process);
    // The mask names a processor and is the request cut down to the system's.
    const uint32_t requested = static_cast<uint32_t>(f.affinity.value);
    FUZZ_CHECK(mask.value != 0 && (mask.value & ~requested) == 0 &&
               (mask.value & ~systemMask) == 0);
    FUZZ_CHECK(mask.value == (requested & systemMask));
    FUZZ_CHECK(priorityClass.value == facts::kPriorityClasses[f.priority.value - 1]);
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
    const char* textEnd = argument.data() + argument.length();

    test_platform::Reset(script);
    FUZZ_CHECK(WinMain(nullptr, nullptr, text, 10) == 0);
    const std::vector<Call>& calls = test_platform::Calls();
    // The argument text is never changed.
    FUZZ_CHECK(argument.Unchanged());

    // Every box has the caption and style, and a text of the facts.
    int errorBoxes = 0;
    int warnings = 0;
    for (const Call& call : calls) {
        if (call.function == Function::MessageBoxA) {
            const int kind = BoxKind(call.text);
            FUZZ_CHECK(kind >= 0 && call.caption == facts::caption &&
                       call.value == facts::box_style && call.process == nullptr);
            errorBoxes += kind >= static_cast<int>(BadAffinity) ? 1 : 0;
            warnings += kind == static_cast<int>(NoSystemMask) ? 1 : 0;
        }
    }
    FUZZ_CHECK(errorBoxes <= 1);

    // No argument text: the usage box and nothing else.
    if (text == nullptr || *text == '\0') {
        FUZZ_CHECK(calls.size() == 1 && IsBox(calls[0], Usage));
        return 0;
    }
    // The system mask is asked for first, for kelvor's own process; without an
    // answer the warning comes next, and only then.
    FUZZ_CHECK(calls.size() >= 2 && calls[0].function == Function::GetCurrentProcess &&
               calls[1].function == Function::GetProcessAffinityMask &&
               calls[1].process == script.ownProcess);
    size_t next = 2;
    if (!script.systemMaskKnown) {
        FUZZ_CHECK(calls.size() > next && IsBox(calls[next], NoSystemMask));
        ++next;
    }
    FUZZ_CHECK(warnings == (script.systemMaskKnown ? 0 : 1));
    const uint32_t systemMask = script.systemMaskKnown ? script.systemMask : facts::fallback_mask;

    // The first field out of range gets its error box, usage follows, and nothing
    // is started.
    const Fields f = ReadFields(text);
    const bool affinityOk =
        f.affinity.value >= 0 && (static_cast<uint32_t>(f.affinity.value) & systemMask) != 0;
    const bool priorityOk = f.priority.value >= 1 && f.priority.value <= kHighestPriority;
    const bool delayOk =
        f.delay.value >= 0 && f.delay.value <= static_cast<int32_t>(facts::longest_delay);
    if (!affinityOk || !priorityOk || !delayOk) {
        const MessageKind refused = !affinityOk   ? BadAffinity
                                    : !priorityOk ? BadPriority
                                                  : BadDelay;
        FUZZ_CHECK(calls.size() == next + 2 && IsBox(calls[next], refused) &&
                   IsBox(calls[next + 1], Usage));
        return 0;
    }
    CheckStarted(calls, next, text, textEnd, f, systemMask, script);
    return 0;
}
