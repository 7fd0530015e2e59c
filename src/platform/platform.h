// The seam between the launcher and Windows: the few kernel and user-interface
// services the launcher needs, as plain functions over plain types. The exe links
// the Win32 implementation; the native tests link one that records every call and
// plays back scripted results. Nothing here includes windows.h.
#pragma once

#include <cstdint>

namespace platform {

using Handle = void*;

// Same layout as the 32-bit STARTUPINFOA (68 bytes); handle and pointer fields
// are held as 32-bit values because the launcher only ever zeroes them.
struct StartupRecord {
    uint32_t cb;
    uint32_t lpReserved;
    uint32_t lpDesktop;
    uint32_t lpTitle;
    uint32_t dwX;
    uint32_t dwY;
    uint32_t dwXSize;
    uint32_t dwYSize;
    uint32_t dwXCountChars;
    uint32_t dwYCountChars;
    uint32_t dwFillAttribute;
    uint32_t dwFlags;
    uint16_t wShowWindow;
    uint16_t cbReserved2;
    uint32_t lpReserved2;
    uint32_t hStdInput;
    uint32_t hStdOutput;
    uint32_t hStdError;
};
static_assert(sizeof(StartupRecord) == 68, "the target's start-up record is 68 bytes");

// Filled by CreateProcessA; the launcher uses hProcess only.
struct ProcessRecord {
    Handle hProcess;
    Handle hThread;
    uint32_t dwProcessId;
    uint32_t dwThreadId;
};

// Each function passes its arguments to the Win32 call of the same name, except
// MessageBoxA, which loads user32.dll on the first box and shows nothing when
// that fails. The command line is const: CreateProcessA, unlike CreateProcessW,
// does not write to it.
Handle GetCurrentProcess();
bool GetProcessAffinityMask(Handle process, uint32_t* processMask, uint32_t* systemMask);
bool CreateProcessA(const char* applicationName, const char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startup,
                    ProcessRecord* process);
void Sleep(uint32_t milliseconds);
bool SetProcessAffinityMask(Handle process, uint32_t mask);
bool SetPriorityClass(Handle process, uint32_t priorityClass);
void MessageBoxA(Handle owner, const char* text, const char* caption, uint32_t style);

}  // namespace platform
