// What the launch harness and its target share: one named block of memory and
// two named events. Times are QueryPerformanceCounter readings, which all
// processes of one session read from the same clock.
#pragma once

#include <windows.h>

#define KELVOR_BENCH_MEMORY "Local\\kelvor-bench-memory"
#define KELVOR_BENCH_ENTERED "Local\\kelvor-bench-entered"
#define KELVOR_BENCH_MASK_SEEN "Local\\kelvor-bench-mask-seen"

// The mask the target waits for in its watch mode; the harness asks for it.
#define KELVOR_BENCH_MASK 1

struct BenchShared {
    volatile LONGLONG entry;     // the target's first reading, at its entry point
    volatile LONGLONG maskSeen;  // first reading at which the target had KELVOR_BENCH_MASK
    volatile LONG entryMask;     // the target's own mask at its entry
    volatile LONG finalMask;     // the mask it saw last (KELVOR_BENCH_MASK unless it gave up)
    volatile LONG processId;     // so the harness can wait for the target to end
};
