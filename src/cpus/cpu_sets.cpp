#include "cpu_sets.h"

namespace {

void PutRanges(TextOut& out, const CpuLayout& layout, const CpuSet& set, const char* prefix,
               const char* joiner) {
    const char* before = prefix;
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (!HasCpu(set, cpu) || (cpu > 0 && HasCpu(set, cpu - 1))) {
            continue;
        }
        int last = cpu;
        while (last + 1 < layout.cpuCount && HasCpu(set, last + 1)) {
            ++last;
        }
        Put(out, before);
        PutNumber(out, static_cast<uint32_t>(cpu));
        if (last > cpu) {
            PutChar(out, '-');
            PutNumber(out, static_cast<uint32_t>(last));
        }
        before = joiner;
    }
}

}  // namespace

bool HasCpu(const CpuSet& set, int cpu) {
    return (set.words[cpu / 32] >> (cpu % 32) & 1) != 0;
}

void AddCpu(CpuSet& set, int cpu) {
    set.words[cpu / 32] |= 1u << (cpu % 32);
}

CpuSet OwnedBy(const CpuLayout& layout, const uint16_t* owners, uint16_t owner) {
    CpuSet set{};
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (owners[cpu] == owner) {
            AddCpu(set, cpu);
        }
    }
    return set;
}

bool LowestOfOwner(const uint16_t* owners, int cpu) {
    for (int earlier = 0; earlier < cpu; ++earlier) {
        if (owners[earlier] == owners[cpu]) {
            return false;
        }
    }
    return owners[cpu] != kNoOwner;
}

int NodeAfter(const CpuLayout& layout, int node) {
    int next = -1;
    for (int other = 0; other < layout.nodeCount; ++other) {
        const uint32_t number = layout.nodeNumber[other];
        if ((node < 0 || number > layout.nodeNumber[node]) &&
            (next < 0 || number < layout.nodeNumber[next])) {
            next = other;
        }
    }
    return next;
}

uint32_t KelvorMask(const CpuLayout& layout, const CpuSet& set) {
    const uint32_t group0 =
        layout.groupActive[0] >= 32 ? 0xFFFFFFFF : (1u << layout.groupActive[0]) - 1;
    return set.words[0] & group0 & 0x7FFFFFFF;
}

void PutLineCpus(TextOut& out, const CpuLayout& layout, const CpuSet& set) {
    PutRanges(out, layout, set, "", "+");
}

void PutBoxCpus(TextOut& out, const CpuLayout& layout, const CpuSet& set) {
    PutRanges(out, layout, set, "cpu", ", cpu");
}
