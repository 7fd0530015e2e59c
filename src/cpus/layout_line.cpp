// kelvor-cpus-1;g=...;c=...;l=...;n=...;p=...;x=<CRC-32>: each list in the order
// docs/CPU-LAYOUT.md gives, cores, caches and packages by their lowest CPU.
#include "layout_line.h"

#include "cpu_sets.h"
#include "text_out.h"

namespace {

// CRC-32 of zip and PNG: reflected polynomial 0xEDB88320, all ones in and out.
// Bit by bit: a table would cost the exe a kilobyte.
uint32_t Crc32(const char* text, int length) {
    uint32_t crc = 0xFFFFFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= static_cast<uint8_t>(text[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
    }
    return ~crc;
}

// One list of owners, by lowest CPU; caches carry their level and size in KiB.
void PutOwners(TextOut& out, const CpuLayout& layout, const char* key, const uint16_t* owners) {
    Put(out, key);
    const char* before = "";
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (!LowestOfOwner(owners, cpu)) {
            continue;
        }
        Put(out, before);
        before = ",";
        const uint16_t owner = owners[cpu];
        if (owners == layout.coreOf) {
            PutNumber(out, layout.coreClass[owner]);
            PutChar(out, ':');
        } else if (owners == layout.cacheOf) {
            PutNumber(out, layout.cacheLevel);
            PutChar(out, ':');
            PutNumber(out, layout.cacheBytes[owner] / 1024);
            PutChar(out, ':');
        }
        PutLineCpus(out, layout, OwnedBy(layout, owners, owner));
    }
}

}  // namespace

int ComposeLayoutLine(const CpuLayout& layout, char* line, int capacity) {
    TextOut out = StartText(line, capacity);
    Put(out, "kelvor-cpus-1;g=");
    for (int group = 0; group < layout.groupCount; ++group) {
        if (group > 0) {
            PutChar(out, ',');
        }
        PutNumber(out, layout.groupActive[group]);
    }
    PutOwners(out, layout, ";c=", layout.coreOf);
    PutOwners(out, layout, ";l=", layout.cacheOf);
    Put(out, ";n=");
    for (int node = NodeAfter(layout, -1); node >= 0; node = NodeAfter(layout, node)) {
        if (node != NodeAfter(layout, -1)) {
            PutChar(out, ',');
        }
        PutLineCpus(out, layout, OwnedBy(layout, layout.nodeOf, static_cast<uint16_t>(node)));
    }
    PutOwners(out, layout, ";p=", layout.packageOf);
    const uint32_t check = Crc32(out.start, static_cast<int>(out.at - out.start));
    Put(out, ";x=");
    for (int shift = 28; shift >= 0; shift -= 4) {
        PutChar(out, "0123456789ABCDEF"[check >> shift & 0xF]);
    }
    const int length = EndText(out);
    return out.full ? -1 : length;
}
