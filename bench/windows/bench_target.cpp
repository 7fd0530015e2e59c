// The program the launch harness starts, directly or through a launcher. It has
// no C runtime, so its entry point is its first instruction: the clock is read
// there. Its last command-line word chooses what it does after that:
//   l  report the entry time and end;
//   w  also watch its own affinity mask until it is KELVOR_BENCH_MASK, report
//      when it first saw that, and end (or give up after 70 s).
#include <windows.h>

#include "bench_shared.h"

namespace {

char LastWord(const char* commandLine) {
    char last = 0;
    for (const char* p = commandLine; *p != 0; ++p) {
        if (*p != ' ' && *p != '\t') {
            last = *p;
        }
    }
    return last;
}

LONG OwnMask() {
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    return static_cast<LONG>(processMask);
}

}  // namespace

extern "C" void TargetEntry() {
    LARGE_INTEGER entry;
    QueryPerformanceCounter(&entry);
    const LONG entryMask = OwnMask();

    HANDLE memory = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KELVOR_BENCH_MEMORY);
    if (memory == nullptr) {
        ExitProcess(2);
    }
    auto* shared =
        static_cast<BenchShared*>(MapViewOfFile(memory, FILE_MAP_WRITE, 0, 0, sizeof(BenchShared)));
    HANDLE entered = OpenEventA(EVENT_MODIFY_STATE, FALSE, KELVOR_BENCH_ENTERED);
    HANDLE maskSeen = OpenEventA(EVENT_MODIFY_STATE, FALSE, KELVOR_BENCH_MASK_SEEN);
    if (shared == nullptr || entered == nullptr || maskSeen == nullptr) {
        ExitProcess(2);
    }

    shared->entry = entry.QuadPart;
    shared->entryMask = entryMask;
    shared->processId = static_cast<LONG>(GetCurrentProcessId());
    SetEvent(entered);

    if (LastWord(GetCommandLineA()) == 'w') {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        const LONGLONG giveUp = entry.QuadPart + 70 * frequency.QuadPart;
        LARGE_INTEGER now = entry;
        LONG mask = entryMask;
        while (mask != KELVOR_BENCH_MASK && now.QuadPart < giveUp) {
            mask = OwnMask();
            QueryPerformanceCounter(&now);
        }
        shared->maskSeen = now.QuadPart;
        shared->finalMask = mask;
        SetEvent(maskSeen);
    }
    ExitProcess(0);
}
