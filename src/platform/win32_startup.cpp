// The process start-up of kelvor.exe, which links no C runtime: cut the
// argument text from the raw command line, run WinMain once, and end the
// process with its result.
#include <windows.h>

#include <cstddef>

#include "argument_text.h"

extern "C" void WinMainCRTStartup() {
    char* argumentText = CutArgumentText(GetCommandLineA());
    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, argumentText, SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(result));
}

// Compilers may zero records with a call to memset; without a C runtime the exe
// brings its own. The volatile store keeps the loop from being turned back into
// a call to memset itself.
extern "C" void* memset(void* destination, int value, size_t count) {
    auto* out = static_cast<volatile unsigned char*>(destination);
    while (count-- > 0) {
        *out++ = static_cast<unsigned char>(value);
    }
    return destination;
}
