// The whole run: ask for the system mask, read and check the three fields in
// order, start the target with the rest of the argument text, wait the delay,
// then set the target's affinity mask and priority class. Every refusal is one
// box (and the usage box after it) and ends the run; WinMain always returns 0.
#include "launch_sequence.h"

#include "messages.h"
#include "number_reader.h"
#include "platform.h"

namespace {

// Used when Windows cannot report which processors exist: the low 30 bits.
constexpr uint32_t kFallbackSystemMask = 0x3FFFFFFF;
constexpr int32_t kLongestDelay = 60000;  // milliseconds, one minute

// Win32 priority classes for the levels 1 (idle) to 6 (realtime).
constexpr uint16_t kPriorityClasses[] = {
    0x40,    // IDLE_PRIORITY_CLASS
    0x4000,  // BELOW_NORMAL_PRIORITY_CLASS
    0x20,    // NORMAL_PRIORITY_CLASS
    0x8000,  // ABOVE_NORMAL_PRIORITY_CLASS
    0x80,    // HIGH_PRIORITY_CLASS
    0x100,   // REALTIME_PRIORITY_CLASS
};
constexpr int32_t kHighestPriority = sizeof(kPriorityClasses) / sizeof(kPriorityClasses[0]);

// The processors the system has. When Windows cannot tell, this shows the
// warning box and assumes the low 30 bits, so the launch still goes on.
uint32_t SystemMaskOrWarning() {
    uint32_t processMask = 0;
    uint32_t systemMask = 0;
    if (!platform::GetProcessAffinityMask(platform::GetCurrentProcess(), &processMask,
                                          &systemMask)) {
        ShowMessage(MessageKind::NoSystemMask, nullptr);
        return kFallbackSystemMask;
    }
    return systemMask;
}

// Checks each field right after reading it, so a bad field ends the run before
// the next one is even read, and the target is started only once all three pass.
void Launch(const char* argumentText) {
    if (argumentText == nullptr || *argumentText == '\0') {
        ShowMessage(MessageKind::Usage, nullptr);
        return;
    }
    const uint32_t systemMask = SystemMaskOrWarning();

    const NumberRead affinity = ReadNumber(argumentText);
    const uint32_t effectiveMask = static_cast<uint32_t>(affinity.value) & systemMask;
    if (affinity.value < 0 || effectiveMask == 0) {
        ShowMessage(MessageKind::BadAffinity, nullptr);
        return;
    }
    const NumberRead priority = ReadNumber(affinity.end);
    if (priority.value < 1 || priority.value > kHighestPriority) {
        ShowMessage(MessageKind::BadPriority, nullptr);
        return;
    }
    const NumberRead delay = ReadNumber(priority.end);
    if (delay.value < 0 || delay.value > kLongestDelay) {
        ShowMessage(MessageKind::BadDelay, nullptr);
        return;
    }

    // The target's command line is the rest of the argument text, in place. Only
    // spaces are skipped here: a TAB after the delay is the target's own, while
    // the number reader skips every white-space character before a number and
    // the cut of the program's name skips spaces and TABs.
    const char* commandLine = delay.end;
    while (*commandLine == ' ') {
        ++commandLine;
    }
    if (*commandLine == '\0') {
        ShowMessage(MessageKind::Usage, nullptr);
        return;
    }

    platform::StartupRecord startup{};
    startup.cb = sizeof(startup);
    platform::ProcessRecord process{};
    if (!platform::CreateProcessA(nullptr, commandLine, nullptr, nullptr, false, 0, nullptr,
                                  nullptr, &startup, &process)) {
        ShowMessage(MessageKind::LaunchFailed, commandLine);
        return;
    }
    // The target runs with what it inherited until the delay is over; programs
    // that reset their own affinity while starting get ours afterwards.
    platform::Sleep(static_cast<uint32_t>(delay.value));
    platform::SetProcessAffinityMask(process.hProcess, effectiveMask);
    platform::SetPriorityClass(process.hProcess, kPriorityClasses[priority.value - 1]);
}

}  // namespace

extern "C" int KELVOR_WINAPI WinMain(void* /*instance*/, void* /*previousInstance*/,
                                     char* argumentText, int /*showCommand*/) {
    Launch(argumentText);
    return 0;
}
