// The program the launch benchmark starts through raw_runner.exe, directly or
// through a launcher. It has no C runtime, so its entry point is its first
// instruction: the clock is read there. Its last command-line word chooses what
// it does after that:
//   l  report the entry time and end;
//   w  also watch its own affinity mask until it is 1, report when it first saw
//      that (or give up after 70 s), and how long Sleep(1) really takes.
// The report is one Record, written to the file that KELVOR_BENCH_OUT names.
// Times are QueryPerformanceCounter readings, one clock with the runner's.
#include <windows.h>

namespace {

struct Record {
    LONGLONG entry;
    LONGLONG maskSeen;    // watch mode: first reading at which the mask was 1
    LONGLONG sleepTicks;  // watch mode: the shortest of 20 Sleep(1), in clock ticks
    LONG entryMask;       // the target's own mask at its entry
    LONG finalMask;       // the mask it saw last (1 unless it gave up)
};

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

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

extern "C" void TargetEntry() {
    Record record{Now(), 0, 0, OwnMask(), 0};
    if (LastWord(GetCommandLineA()) == 'w') {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        const LONGLONG giveUp = record.entry + 70 * frequency.QuadPart;
        record.maskSeen = record.entry;
        record.finalMask = record.entryMask;
        while (record.finalMask != 1 && record.maskSeen < giveUp) {
            record.finalMask = OwnMask();
            record.maskSeen = Now();
        }
        record.sleepTicks = frequency.QuadPart;
        for (int i = 0; i < 20; ++i) {
            const LONGLONG before = Now();
            Sleep(1);
            const LONGLONG took = Now() - before;
            record.sleepTicks = took < record.sleepTicks ? took : record.sleepTicks;
        }
    }
    char path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("KELVOR_BENCH_OUT", path, sizeof path);
    HANDLE out = length > 0 && length < sizeof path
                     ? CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                     : INVALID_HANDLE_VALUE;
    DWORD written = 0;
    const bool ok = out != INVALID_HANDLE_VALUE &&
                    WriteFile(out, &record, sizeof record, &written, nullptr) &&
                    written == sizeof record;
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    ExitProcess(ok ? 0 : 2);
}
