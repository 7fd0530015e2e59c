// Launch and delay timing under one clock. Each trial reads the clock, starts a
// command line with CreateProcessA and waits until (1) the started process has
// ended and (2) the target has signalled its entry (and, when watching, the
// moment it saw its new mask), then waits for the target to end as well.
//
// bench_launch <kelvor.exe> <bench_target.exe> <rounds> <delay trials> <out file>
//
// Launch rounds start, in turn: kelvor with delay 0, `cmd /c start`, and the
// target directly; the first two rounds are warm-up and not written. Delay
// trials start kelvor with each delay in turn. One line per trial goes to the
// out file; all times are milliseconds from the harness's reading just before
// CreateProcessA.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_shared.h"

namespace {

constexpr int kWarmUpRounds = 2;
constexpr DWORD kWaitLimit = 90000;

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

struct Trial {
    bool ok;
    const char* failure;
    double entry;       // the target's entry
    double maskSeen;    // when the target first had the new mask (watch mode)
    double exited;      // the started process (launcher, or the target itself) had ended
    bool clockOrdered;  // start <= target entry <= the harness's reading after the signal
    LONG entryMask;
    LONG finalMask;
};

class Harness {
public:
    bool Open() {
        QueryPerformanceFrequency(&frequency_);
        memory_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     sizeof(BenchShared), KELVOR_BENCH_MEMORY);
        if (memory_ == nullptr) {
            return false;
        }
        shared_ = static_cast<BenchShared*>(
            MapViewOfFile(memory_, FILE_MAP_WRITE, 0, 0, sizeof(BenchShared)));
        entered_ = CreateEventA(nullptr, FALSE, FALSE, KELVOR_BENCH_ENTERED);
        maskSeen_ = CreateEventA(nullptr, FALSE, FALSE, KELVOR_BENCH_MASK_SEEN);
        return shared_ != nullptr && entered_ != nullptr && maskSeen_ != nullptr;
    }

    double Milliseconds(LONGLONG from, LONGLONG to) const {
        return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency_.QuadPart);
    }

    LONGLONG Frequency() const { return frequency_.QuadPart; }

    Trial Run(const std::string& commandLine, bool watch) {
        Trial trial{};
        shared_->entry = 0;
        shared_->maskSeen = 0;
        shared_->processId = 0;
        ResetEvent(entered_);
        ResetEvent(maskSeen_);

        std::string text = commandLine;
        STARTUPINFOA startup;
        std::memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        const LONGLONG start = Now();
        if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            trial.failure = "CreateProcessA failed";
            return trial;
        }
        CloseHandle(process.hThread);
        const bool ended = WaitForSingleObject(process.hProcess, kWaitLimit) == WAIT_OBJECT_0;
        const LONGLONG exited = Now();
        CloseHandle(process.hProcess);
        if (!ended) {
            trial.failure = "started process did not end";
            return trial;
        }
        if (WaitForSingleObject(entered_, kWaitLimit) != WAIT_OBJECT_0) {
            trial.failure = "target never signalled its entry";
            return trial;
        }
        const LONGLONG signalled = Now();
        if (watch && WaitForSingleObject(maskSeen_, kWaitLimit) != WAIT_OBJECT_0) {
            trial.failure = "target never reported its mask";
            return trial;
        }
        // Let the target end before the next trial starts.
        HANDLE target = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(shared_->processId));
        if (target != nullptr) {
            WaitForSingleObject(target, kWaitLimit);
            CloseHandle(target);
        }

        const LONGLONG entry = shared_->entry;
        trial.ok = true;
        trial.entry = Milliseconds(start, entry);
        trial.exited = Milliseconds(start, exited);
        trial.maskSeen = watch ? Milliseconds(start, shared_->maskSeen) : 0.0;
        trial.clockOrdered = start <= entry && entry <= signalled;
        trial.entryMask = shared_->entryMask;
        trial.finalMask = shared_->finalMask;
        return trial;
    }

private:
    LARGE_INTEGER frequency_{};
    HANDLE memory_ = nullptr;
    BenchShared* shared_ = nullptr;
    HANDLE entered_ = nullptr;
    HANDLE maskSeen_ = nullptr;
};

// How long Sleep(1) really takes: the timer tick the launcher's Sleep rounds to.
double SleepTick(const Harness& harness) {
    double shortest = 1e9;
    for (int i = 0; i < 20; ++i) {
        const LONGLONG before = Now();
        Sleep(1);
        const double took = harness.Milliseconds(before, Now());
        shortest = took < shortest ? took : shortest;
    }
    return shortest;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: bench_launch <kelvor.exe> <bench_target.exe> <rounds> "
                     "<delay trials> <out file>\n");
        return 2;
    }
    const std::string kelvor = argv[1];
    const std::string target = argv[2];
    const int rounds = std::atoi(argv[3]);
    const int delayTrials = std::atoi(argv[4]);
    std::FILE* out = std::fopen(argv[5], "w");
    Harness harness;
    if (out == nullptr || !harness.Open()) {
        std::fprintf(stderr, "bench_launch: cannot open the out file or the shared objects\n");
        return 2;
    }

    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    std::fprintf(out, "info\tfrequency\t%lld\n", static_cast<long long>(harness.Frequency()));
    std::fprintf(out, "info\tsystem_mask\t%lu\n", static_cast<unsigned long>(systemMask));
    std::fprintf(out, "info\tsleep1_ms\t%.4f\n", SleepTick(harness));
    std::fflush(out);

    struct Case {
        const char* name;
        std::string commandLine;
    };
    const Case cases[] = {
        {"kelvor", kelvor + " 1 3 0 " + target + " l"},
        {"start", "cmd.exe /c start /affinity 1 /normal " + target + " l"},
        {"direct", target + " l"},
    };
    int failures = 0;
    for (int round = 0; round < kWarmUpRounds + rounds; ++round) {
        for (const Case& c : cases) {
            const Trial trial = harness.Run(c.commandLine, false);
            if (!trial.ok) {
                std::fprintf(out, "fail\tlaunch\t%s\t%d\t%s\n", c.name, round, trial.failure);
                ++failures;
                continue;
            }
            if (round < kWarmUpRounds) {
                continue;
            }
            std::fprintf(out, "launch\t%s\t%d\t%.4f\t%.4f\t%d\t%ld\n", c.name,
                         round - kWarmUpRounds, trial.entry, trial.exited, trial.clockOrdered,
                         static_cast<long>(trial.entryMask));
        }
        std::fflush(out);
    }

    const int delays[] = {0, 16, 100, 1000};
    for (int i = 0; i < delayTrials; ++i) {
        for (int delay : delays) {
            const std::string commandLine = kelvor + " " + std::to_string(KELVOR_BENCH_MASK) +
                                            " 3 " + std::to_string(delay) + " " + target + " w";
            const Trial trial = harness.Run(commandLine, true);
            if (!trial.ok) {
                std::fprintf(out, "fail\tdelay\t%d\t%d\t%s\n", delay, i, trial.failure);
                ++failures;
                continue;
            }
            std::fprintf(out, "delay\t%d\t%d\t%.4f\t%.4f\t%.4f\t%d\t%ld\t%ld\n", delay, i,
                         trial.maskSeen, trial.entry, trial.exited, trial.clockOrdered,
                         static_cast<long>(trial.entryMask), static_cast<long>(trial.finalMask));
        }
        std::fflush(out);
    }
    std::fclose(out);
    return failures == 0 ? 0 : 1;
}
