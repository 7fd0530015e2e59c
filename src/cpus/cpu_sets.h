// Sets of CPUs in Task Manager's numbering, and how they are written: as ranges
// for the line ("0-7+16") and for the box ("cpu0-7, cpu16").
#pragma once

#include <cstdint>

#include "cpu_layout.h"
#include "text_out.h"

struct CpuSet {
    uint32_t words[kMaxCpus / 32];
};

bool HasCpu(const CpuSet& set, int cpu);
void AddCpu(CpuSet& set, int cpu);
// The CPUs whose owner in `owners` is `owner`.
CpuSet OwnedBy(const CpuLayout& layout, const uint16_t* owners, uint16_t owner);
// True when `cpu` is the lowest CPU of its owner: the owners are listed in that order.
bool LowestOfOwner(const uint16_t* owners, int cpu);
// The NUMA node after `node` in node-number order (-1: the first), or -1 after
// the last. The reader keeps node numbers unique.
int NodeAfter(const CpuLayout& layout, int node);
// The mask kelvor takes for the set: its CPUs in group 0, less bit 31, which
// would make the decimal mask negative.
uint32_t KelvorMask(const CpuLayout& layout, const CpuSet& set);
// Ascending ranges: "0-7+16" in the line, "cpu0-7, cpu16" in the box.
void PutLineCpus(TextOut& out, const CpuLayout& layout, const CpuSet& set);
void PutBoxCpus(TextOut& out, const CpuLayout& layout, const CpuSet& set);
