// The seam over the real Win32 services, for kelvor.exe.
#include <windows.h>

#include <cstddef>

#include "platform.h"

static_assert(sizeof(platform::StartupRecord) == sizeof(STARTUPINFOA));
static_assert(offsetof(platform::StartupRecord, wShowWindow) ==
              offsetof(STARTUPINFOA, wShowWindow));
static_assert(offsetof(platform::StartupRecord, hStdError) == offsetof(STARTUPINFOA, hStdError));
static_assert(sizeof(platform::ProcessRecord) == sizeof(PROCESS_INFORMATION));
static_assert(offsetof(platform::ProcessRecord, dwThreadId) ==
              offsetof(PROCESS_INFORMATION, dwThreadId));

namespace platform {

Handle GetCurrentProcess() {
    return ::GetCurrentProcess();
}

bool GetProcessAffinityMask(Handle process, uint32_t* processMask, uint32_t* systemMask) {
    DWORD_PTR processBits = 0;
    DWORD_PTR systemBits = 0;
#ifdef KELVOR_TEST_NO_SYSTEM_MASK
    // Test-only build: behave as if Windows could not report the mask, so the
    // warning can be seen in a real box.
    const bool known = false;
    (void)process;
#else
    const bool known = ::GetProcessAffinityMask(process, &processBits, &systemBits) != 0;
#endif
    *processMask = static_cast<uint32_t>(processBits);
    *systemMask = static_cast<uint32_t>(systemBits);
    return known;
}

bool CreateProcessA(const char* applicationName, const char* commandLine, void* processAttributes,
                    void* threadAttributes, bool inheritHandles, uint32_t creationFlags,
                    void* environment, const char* currentDirectory, StartupRecord* startup,
                    ProcessRecord* process) {
    return ::CreateProcessA(applicationName, const_cast<char*>(commandLine),
                            static_cast<SECURITY_ATTRIBUTES*>(processAttributes),
                            static_cast<SECURITY_ATTRIBUTES*>(threadAttributes),
                            inheritHandles ? TRUE : FALSE, creationFlags, environment,
                            currentDirectory, reinterpret_cast<STARTUPINFOA*>(startup),
                            reinterpret_cast<PROCESS_INFORMATION*>(process)) != 0;
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

bool SetProcessAffinityMask(Handle process, uint32_t mask) {
    return ::SetProcessAffinityMask(process, mask) != 0;
}

bool SetPriorityClass(Handle process, uint32_t priorityClass) {
    return ::SetPriorityClass(process, priorityClass) != 0;
}

// USER32 is bound only when a box is shown: importing it would make every run
// set up the window system (win32k connection, GDI) although a successful run
// shows nothing. user32.dll is a KnownDLL, so loading it by name always maps the
// system's own copy, never a file from the exe's folder or the current directory.
// Without it no box can be shown, and the run goes on as after a closed box.
void MessageBoxA(Handle owner, const char* text, const char* caption, uint32_t style) {
    using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
    static MessageBoxFunction messageBox;  // resolved by the first box, reused after
    if (messageBox == nullptr) {
        const HMODULE user32 = LoadLibraryA("user32.dll");
        if (user32 == nullptr) {
            return;
        }
        // Through void(*)(), the function type that converts to any other without warning.
        messageBox = reinterpret_cast<MessageBoxFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(user32, "MessageBoxA")));
        if (messageBox == nullptr) {
            return;
        }
    }
    messageBox(static_cast<HWND>(owner), text, caption, style);
}

}  // namespace platform
