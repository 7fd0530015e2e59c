// Sets of CPUs in Task Manager's numbering, and the mask kelvor takes for one.
#pragma once

#include <cstdint>

#include "cpu_layout.h"

struct CpuSet {
    uint32_t words[kMaxCpus / 32];
};

bool HasCpu(const CpuSet& set, int cpu);
// The CPUs whose owner of `relation` is `owner`, and how many they are.
int OwnedBy(const CpuLayout& layout, Relation relation, int owner, CpuSet& set);
// How many owners of `relation` hold any CPU.
int OwnerCount(const CpuLayout& layout, Relation relation);
// The mask kelvor takes for the set: its CPUs in group 0, less bit 31, which
// would make the decimal mask negative.
uint32_t KelvorMask(const CpuLayout& layout, const CpuSet& set);
