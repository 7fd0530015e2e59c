// probe.exe (and probe64.exe, the same source for 64 bits): a target for kelvor that
// records its command lines (ANSI, and Unicode as UTF-8), its own path, current directory,
// bitness, affinity mask and priority class at start, then polls both about every millisecond
// and records each change with the time it was seen. It watches until the process that
// started it (kelvor) has ended and a short settle time more: kelvor sets both before it
// ends, and after that only the probe itself could change them.
//
// Environment:
//   KELVOR_PROBE_OUT  file to write (required; a Windows path, e.g. Z:\tmp\p.txt).
//                     Without it the probe exits with code 2 and writes nothing.
//   KELVOR_PROBE_MS   the longest it watches, in ms (default 120000, at most 600000),
//                     whether or not its starter has ended.
//
// Output format (version 1; readers skip lines they do not know): plain ASCII lines,
// fields separated by one space. The header lines are flushed before polling starts,
// each change line once seen, and the end line last: no "end" line, still running.
//
//   format kelvor-probe 1
//   pid <decimal process id>
//   cmdline_hex <GetCommandLineA bytes as lowercase hex, two digits a byte; "-" if empty>
//   cmdline_w_hex <GetCommandLineW as UTF-8, in hex as cmdline_hex; "-" if empty>
//   cwd_w_hex <GetCurrentDirectoryW as UTF-8, in hex as cmdline_hex; "-" if unknown>
//   exe_w_hex <GetModuleFileNameW of the exe as UTF-8, in hex as cmdline_hex; "-" if unknown>
//   bits <32|64>                     (pointer size of this build: 64 for probe64.exe)
//   qpc_frequency <QueryPerformanceFrequency, ticks per second>
//   start_qpc <QueryPerformanceCounter at the probe's start, absolute ticks>
//   system_mask 0x<8 hex digits>     (system affinity mask from GetProcessAffinityMask)
//   initial 0x<affinity, 8 hex digits> 0x<priority class, hex>
//   change <us since start> <absolute qpc> 0x<affinity> 0x<priority class>
//   ...
//   end <us since start> <absolute qpc> <number of samples taken>
// Times are QueryPerformanceCounter values: one clock for every process of the machine.
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr long kSettleMs = 100;

struct Sample {
    DWORD affinity;
    DWORD priority;
};

Sample TakeSample(HANDLE self, DWORD* systemMask) {
    DWORD_PTR processBits = 0;
    DWORD_PTR systemBits = 0;
    if (!GetProcessAffinityMask(self, &processBits, &systemBits)) {
        processBits = 0;
        systemBits = 0;
    }
    if (systemMask != nullptr) {
        *systemMask = static_cast<DWORD>(systemBits);
    }
    return Sample{static_cast<DWORD>(processBits), GetPriorityClass(self)};
}

long ReadEnvNumber(const char* name, long fallback, long limit) {
    const char* text = getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long value = strtol(text, &end, 10);
    if (*end != '\0' || value < 0) {
        return fallback;
    }
    return value > limit ? limit : value;
}

long long Microseconds(LONGLONG ticks, LONGLONG frequency) {
    return static_cast<long long>(ticks / frequency * 1000000 +
                                  ticks % frequency * 1000000 / frequency);
}

void WriteCommandLine(FILE* out, const char* commandLine) {
    fputs("cmdline_hex ", out);
    if (*commandLine == '\0') {
        fputc('-', out);
    }
    for (; *commandLine != '\0'; ++commandLine) {
        fprintf(out, "%02x", static_cast<unsigned char>(*commandLine));
    }
    fputc('\n', out);
}

// The process that started this one, to wait for; null when there is none any more.
HANDLE OpenStarter() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    DWORD starter = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            starter = entry.th32ParentProcessID;
        }
    }
    CloseHandle(snapshot);
    return starter != 0 ? OpenProcess(SYNCHRONIZE, FALSE, starter) : nullptr;
}

// A "<key> <hex>" line of a Unicode text as UTF-8 bytes.
void WriteUtf8Hex(FILE* out, const char* key, const wchar_t* text) {
    fprintf(out, "%s ", key);
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    char* utf8 = size > 1 ? static_cast<char*>(malloc(size)) : nullptr;
    if (utf8 == nullptr ||
        WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, size, nullptr, nullptr) != size) {
        fputc('-', out);
    } else {
        for (int i = 0; i + 1 < size; ++i) {
            fprintf(out, "%02x", static_cast<unsigned char>(utf8[i]));
        }
    }
    free(utf8);
    fputc('\n', out);
}

}  // namespace

int main() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);

    // Read the first sample before anything slow, so it shows the state at start.
    const HANDLE self = GetCurrentProcess();
    DWORD systemMask = 0;
    Sample last = TakeSample(self, &systemMask);
    const char* commandLine = GetCommandLineA();
    const wchar_t* wideCommandLine = GetCommandLineW();

    const char* path = getenv("KELVOR_PROBE_OUT");
    if (path == nullptr || *path == '\0') {
        return 2;
    }
    FILE* out = fopen(path, "wb");
    if (out == nullptr) {
        return 3;
    }
    const long limitMs = ReadEnvNumber("KELVOR_PROBE_MS", 120000, 600000);
    HANDLE starter = OpenStarter();

    fprintf(out, "format kelvor-probe 1\npid %lu\n", GetCurrentProcessId());
    WriteCommandLine(out, commandLine);
    WriteUtf8Hex(out, "cmdline_w_hex", wideCommandLine);
    wchar_t folder[MAX_PATH];
    // A folder longer than the buffer leaves it unfilled: reported as unknown.
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    WriteUtf8Hex(out, "cwd_w_hex", length > 0 && length < MAX_PATH ? folder : L"");
    // Which copy of the probe ran: a cut path is reported as unknown.
    wchar_t exe[MAX_PATH];
    const DWORD exeLength = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    WriteUtf8Hex(out, "exe_w_hex", exeLength > 0 && exeLength < MAX_PATH ? exe : L"");
    fprintf(out, "bits %u\n", static_cast<unsigned>(sizeof(void*) * 8));
    fprintf(out, "qpc_frequency %lld\nstart_qpc %lld\nsystem_mask 0x%08lx\ninitial 0x%08lx 0x%lx\n",
            static_cast<long long>(frequency.QuadPart), static_cast<long long>(start.QuadPart),
            systemMask, last.affinity, last.priority);
    fflush(out);

    // Sleep(1) is about a millisecond at the finest timer resolution.
    timeBeginPeriod(1);
    LONGLONG stopAt = start.QuadPart + frequency.QuadPart * limitMs / 1000;
    unsigned long samples = 1;
    LARGE_INTEGER now = start;
    while (now.QuadPart < stopAt) {
        Sleep(1);
        // Once the starter has ended, the samples of the settle time show the final state.
        if (starter == nullptr || WaitForSingleObject(starter, 0) == WAIT_OBJECT_0) {
            const LONGLONG settleAt = now.QuadPart + frequency.QuadPart * kSettleMs / 1000;
            stopAt = settleAt < stopAt ? settleAt : stopAt;
            if (starter != nullptr) {
                CloseHandle(starter);
                starter = nullptr;
            }
        }
        const Sample current = TakeSample(self, nullptr);
        QueryPerformanceCounter(&now);
        ++samples;
        if (current.affinity != last.affinity || current.priority != last.priority) {
            fprintf(out, "change %lld %lld 0x%08lx 0x%lx\n",
                    Microseconds(now.QuadPart - start.QuadPart, frequency.QuadPart),
                    static_cast<long long>(now.QuadPart), current.affinity, current.priority);
            fflush(out);
            last = current;
        }
    }
    timeEndPeriod(1);
    fprintf(out, "end %lld %lld %lu\n",
            Microseconds(now.QuadPart - start.QuadPart, frequency.QuadPart),
            static_cast<long long>(now.QuadPart), samples);
    fclose(out);
    return 0;
}
