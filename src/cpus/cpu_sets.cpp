#include "cpu_sets.h"

bool HasCpu(const CpuSet& set, int cpu) {
    return (set.words[cpu / 32] >> (cpu % 32) & 1) != 0;
}

int OwnedBy(const CpuLayout& layout, Relation relation, int owner, CpuSet& set) {
    set = CpuSet{};
    int count = 0;
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (layout.owner[relation][cpu] == owner) {
            set.words[cpu / 32] |= 1u << (cpu % 32);
            ++count;
        }
    }
    return count;
}

int OwnerCount(const CpuLayout& layout, Relation relation) {
    int count = 0;
    CpuSet set;
    for (int owner = 0; owner < kMaxCpus; ++owner) {
        count += OwnedBy(layout, relation, owner, set) > 0;
    }
    return count;
}

uint32_t KelvorMask(const CpuLayout& layout, const CpuSet& set) {
    // Group 0's CPUs are the first ones.
    return set.words[0] &
           (layout.groupActive[0] >= 32 ? 0x7FFFFFFF : (1u << layout.groupActive[0]) - 1);
}
