// kelvor-cpus-1;g=...;c=...;l=...;n=...;p=...;x=<CRC-32>, each list in the order
// docs/CPU-LAYOUT.md gives, which is the order of the owners' numbers.
#include "layout_line.h"

#include "cpu_sets.h"
#include "text_out.h"

namespace {

// CRC-32 of zip and PNG: reflected polynomial 0xEDB88320, all ones in and out.
// Bit by bit: a table would cost the exe a kilobyte.
uint32_t Crc32(const char* text, const char* end) {
    uint32_t crc = 0xFFFFFFFF;
    while (text < end) {
        crc ^= static_cast<uint8_t>(*text++);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
        }
    }
    return ~crc;
}

// The lists after g=, each with its key and what goes before an owner's CPUs: a
// core's efficiency class; a cache's level and size in KiB. Each takes two numbers.
struct List {
    Relation relation;
    const char* key;
    const char* item;
};
constexpr List kLists[] = {{Core, ";c=", "%n:%_"},
                           {Cache, ";l=", "%n:%n:"},
                           {Node, ";n=", "%_%_"},
                           {Package, ";p=", "%_%_"}};

}  // namespace

// Not inlined, as ReadLayout.
[[gnu::noinline]] int ComposeLayoutLine(const CpuLayout& layout, char* line, int capacity) {
    TextOut out = StartText(line, capacity);
    Format(out, "kelvor-cpus-1;g=");
    for (int group = 0; group < layout.groupCount; ++group) {
        Format(out, group > 0 ? ",%n" : "%n", layout.groupActive[group]);
    }
    for (const List& list : kLists) {
        const Relation relation = list.relation;
        const char* before = list.key;
        for (int owner = 0; owner < kMaxCpus; ++owner) {
            CpuSet cpus;
            if (OwnedBy(layout, relation, owner, cpus) > 0) {
                Format(out, "%s%s%l", before, list.item,
                       relation == Cache ? layout.cacheLevel : 255 - layout.owner[Kind][owner],
                       layout.cacheBytes[owner] / 1024, &cpus);
                before = ",";
            }
        }
    }
    const uint32_t check = Crc32(out.start, out.at);
    Format(out, ";x=");
    for (int shift = 28; shift >= 0; shift -= 4) {
        PutChar(out, "0123456789ABCDEF"[check >> shift & 0xF]);
    }
    const int length = EndText(out);
    return out.full ? -1 : length;
}
