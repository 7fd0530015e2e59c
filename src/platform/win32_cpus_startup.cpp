// The process start-up of kelvor-cpus.exe, which links no C runtime: run the
// whole sequence once and end the process with its result.
#include <windows.h>

#include <cstddef>

#include "cpus_sequence.h"

extern "C" void WinMainCRTStartup() {
    ExitProcess(static_cast<UINT>(CpusMain()));
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
