// raw_runner.exe: starts a program with an exact, byte-for-byte command line,
// waits for it and keeps the clock: the e2e suite runs kelvor through it, and the
// launch benchmark (bench/windows/launch_trials.py) each of its trials.
//
//   raw_runner.exe <result file> <exe path> <@file | u@file> <timeout ms>
//
// "@file": the file's whole contents are the command line, passed as they are to
// CreateProcessA with the exe path as application name, so nothing is quoted, split or
// re-joined on the way. "u@file": the file holds it as UTF-8 (invalid UTF-8 is refused),
// passed to CreateProcessW with the exe path from the runner's own Unicode command line.
// A program still running after <timeout ms> is ended with TerminateProcess.
//
// The program runs in a job object of the runner's (started suspended, put in the job,
// then resumed), which counts the processes it starts and does not end them: the runner
// waits up to <timeout ms> more for them (a target watching its own state), so every
// process of the run has written its results when the runner exits.
//
// Result file (version 1), plain ASCII lines:
//   format kelvor-run 1
//   qpc_frequency <ticks per second>
//   launch_qpc <QueryPerformanceCounter just before CreateProcessA or W>
//   pid <process id>                    (only when it started)
//   job_processes <processes that were ever in the job, the program included>
//   exit_code <decimal>                 (it ended by itself), or
//   killed_after_timeout <ms>           (it was still running and was ended), or
//   create_failed <GetLastError value>
//   elapsed_ms <ms from launch_qpc until it ended or was ended, 3 decimals>
//   done_qpc <QueryPerformanceCounter once the job's processes have ended>
// Exit code: 0 when the program ended by itself, 1 after a timeout, 2 on bad arguments,
// 3 when the program could not be started.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool ReadWholeFile(const char* path, std::string* contents) {
    std::ifstream in(path, std::ios::binary);
    contents->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.is_open();
}

bool Utf8ToWide(const std::string& utf8, std::wstring* wide) {
    if (utf8.empty()) {
        return true;
    }
    const int length = static_cast<int>(utf8.size());
    const int size =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (size <= 0) {
        return false;
    }
    wide->resize(size);
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, &(*wide)[0],
                               size) == size;
}

// The third argument of the runner's own Unicode command line: the exe path as given.
bool WideExePath(std::wstring* path) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return false;
    }
    const bool ok = count == 5;
    if (ok) {
        *path = arguments[2];
    }
    LocalFree(arguments);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr,
                "usage: raw_runner <result file> <exe path> <@file | u@file> <timeout ms>\n");
        return 2;
    }
    const bool unicode = strncmp(argv[3], "u@", 2) == 0;
    std::string commandLine;
    std::wstring wideCommandLine;
    std::wstring wideExe;
    const bool read = unicode
                          ? ReadWholeFile(argv[3] + 2, &commandLine) &&
                                Utf8ToWide(commandLine, &wideCommandLine) && WideExePath(&wideExe)
                          : argv[3][0] == '@' && ReadWholeFile(argv[3] + 1, &commandLine);
    if (!read || commandLine.find('\0') != std::string::npos) {
        fprintf(stderr, "raw_runner: bad command line argument\n");
        return 2;
    }
    const DWORD timeoutMs = static_cast<DWORD>(strtoul(argv[4], nullptr, 10));
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) {
        return 2;
    }

    LARGE_INTEGER frequency;
    LARGE_INTEGER launch;
    LARGE_INTEGER ended;
    QueryPerformanceFrequency(&frequency);

    // CreateProcess may write into the command line buffer, so hand it a copy.
    std::string buffer = commandLine;
    buffer.push_back('\0');
    std::wstring wideBuffer = wideCommandLine;
    wideBuffer.push_back(L'\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    STARTUPINFOW wideStartup{};
    wideStartup.cb = sizeof wideStartup;
    PROCESS_INFORMATION process{};
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    // The job reports to this port when its last process has ended.
    const HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job, port};
    if (job != nullptr && !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation,
                                                   &association, sizeof association)) {
        CloseHandle(job);
        job = nullptr;
    }
    QueryPerformanceCounter(&launch);
    const BOOL started =
        unicode ? CreateProcessW(wideExe.c_str(), &wideBuffer[0], nullptr, nullptr, FALSE,
                                 CREATE_SUSPENDED, nullptr, nullptr, &wideStartup, &process)
                : CreateProcessA(argv[2], &buffer[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &process);
    fprintf(out, "format kelvor-run 1\nqpc_frequency %lld\nlaunch_qpc %lld\n",
            static_cast<long long>(frequency.QuadPart), static_cast<long long>(launch.QuadPart));
    if (!started) {
        fprintf(out, "create_failed %lu\n", GetLastError());
        fclose(out);
        return 3;
    }
    fprintf(out, "pid %lu\n", process.dwProcessId);
    fflush(out);
    if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(process.hThread);

    int result = 0;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        QueryPerformanceCounter(&ended);
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        fprintf(out, "exit_code %lu\n", exitCode);
    } else {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, 5000);
        QueryPerformanceCounter(&ended);
        fprintf(out, "killed_after_timeout %lu\n", timeoutMs);
        result = 1;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    while (job != nullptr && message != JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO &&
           GetQueuedCompletionStatus(port, &message, &key, &overlapped, timeoutMs)) {
    }
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (job != nullptr && QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                                    &accounting, sizeof accounting, nullptr)) {
        fprintf(out, "job_processes %lu\n", accounting.TotalProcesses);
    }
    LARGE_INTEGER done;
    QueryPerformanceCounter(&done);
    fprintf(out, "elapsed_ms %.3f\ndone_qpc %lld\n",
            static_cast<double>(ended.QuadPart - launch.QuadPart) * 1000.0 /
                static_cast<double>(frequency.QuadPart),
            static_cast<long long>(done.QuadPart));
    fclose(out);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (job != nullptr) {
        CloseHandle(job);
    }
    CloseHandle(port);
    return result;
}
