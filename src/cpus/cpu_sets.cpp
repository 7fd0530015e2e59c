#include "cpu_sets.h"

bool HasCpu(const CpuSet& set, int cpu) {
    return (set.words[cpu / 32] >> (cpu % 32) & 1) != 0;
}

CpuSet OwnedBy(const CpuLayout& layout, Relation relation, int owner) {
    CpuSet set{};
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (layout.owner[relation][cpu] == owner) {
            set.words[cpu / 32] |= 1u << (cpu % 32);
        }
    }
    return set;
}

uint32_t KelvorMask(const CpuLayout& layout, const CpuSet& set) {
    // Group 0's CPUs are the first ones.
    const uint32_t active = layout.value[Group][0];
    return set.words[0] & (active >= 32 ? 0xFFFFFFFF : (1u << active) - 1) & 0x7FFFFFFF;
}
