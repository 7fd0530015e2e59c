#include "launch_sequence.h"

#include "../platform/platform.h"
#include "messages.h"
#include "number_reader.h"

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
        ShowMessage(NoSystemMask, nullptr);
        return kFallbackSystemMask;
    }
    return systemMask;
}

// Checks each field right after reading it, so a bad field ends the run before
// the next one is even read, and the target is started only once all three pass.
void Launch(char* argumentText) {
    if (argumentText == nullptr || *argumentText == '\0') {
        ShowMessage(Usage, nullptr);
        return;
    }
    const uint32_t systemMask = SystemMaskOrWarning();

    const NumberRead affinity = ReadNumber(argumentText);
    const uint32_t effectiveMask = static_cast<uint32_t>(affinity.value) & systemMask;
    if (affinity.value < 0 || effectiveMask == 0) {
        ShowMessage(BadAffinity, nullptr);
        return;
    }
    const NumberRead priority = ReadNumber(affinity.end);
    if (priority.value < 1 || priority.value > kHighestPriority) {
        ShowMessage(BadPriority, nullptr);
        return;
    }
    const NumberRead delay = ReadNumber(priority.end);
    if (delay.value < 0 || delay.value > kLongestDelay) {
        ShowMessage(BadDelay, nullptr);
        return;
    }

    // The reader hands back positions inside the argument text, so the target's
    // command line is the same writable text CreateProcessA is given.
    char* commandLine = argumentText + (delay.end - argumentText);
    while (*commandLine == ' ') {
        ++commandLine;
    }
    if (*commandLine == '\0') {
        ShowMessage(Usage, nullptr);
        return;
    }

    platform::StartupRecord startup{};
    startup.cb = sizeof(startup);
    platform::ProcessRecord process{};
    if (!platform::CreateProcessA(nullptr, commandLine, nullptr, nullptr, false, 0, nullptr,
                                  nullptr, &startup, &process)) {
        ShowMessage(LaunchFailed, commandLine);
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
