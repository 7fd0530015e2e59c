// Builds the buffer GetLogicalProcessorInformationEx(RelationAll) fills for a
// 32-bit process, entry by entry, in the structure layouts Microsoft documents
// (SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX and the four relationship structures,
// GROUP_AFFINITY with a 32-bit mask), independently of src/cpus/processor_answer.h.
#pragma once

#include <cstdint>
#include <vector>

namespace cpu_answer {

struct Mask {
    uint16_t group;
    uint32_t bits;
};

using Bytes = std::vector<uint8_t>;

// `size` little-endian bytes of `value`; past its 4 bytes, zeros.
inline void Put(Bytes& out, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out.push_back(i < 4 ? static_cast<uint8_t>(value >> (8 * i)) : 0);
    }
}

// GROUP_AFFINITY: Mask (KAFFINITY, 4 bytes here), Group, Reserved[3].
inline void PutMasks(Bytes& out, const std::vector<Mask>& masks) {
    for (const Mask& mask : masks) {
        Put(out, mask.bits, 4);
        Put(out, mask.group, 2);
        Put(out, 0, 6);
    }
}

// One entry: Relationship, Size (the whole entry), then the body.
inline void Entry(Bytes& out, uint32_t relationship, const Bytes& body) {
    Put(out, relationship, 4);
    Put(out, static_cast<uint32_t>(8 + body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
}

// PROCESSOR_RELATIONSHIP: Flags, EfficiencyClass, Reserved[20], GroupCount, then
// the masks at 24.
inline Bytes Processor(uint8_t efficiencyClass, const std::vector<Mask>& masks) {
    Bytes body;
    Put(body, 0, 1);  // Flags: LTP_PC_SMT or 0; the reader does not need it
    Put(body, efficiencyClass, 1);
    Put(body, 0, 20);
    Put(body, static_cast<uint32_t>(masks.size()), 2);
    PutMasks(body, masks);
    return body;
}

inline void Core(Bytes& out, uint8_t efficiencyClass, uint16_t group, uint32_t bits) {
    Entry(out, 0, Processor(efficiencyClass, {{group, bits}}));
}

inline void Package(Bytes& out, const std::vector<Mask>& masks) {
    Entry(out, 3, Processor(0, masks));
}

// NUMA_NODE_RELATIONSHIP: NodeNumber, Reserved[18], GroupCount, masks at 24.
// `groupCount` 0 is what Windows before 20H2 writes, with one mask.
inline void Node(Bytes& out, uint32_t number, const std::vector<Mask>& masks, int groupCount = -1) {
    Bytes body;
    Put(body, number, 4);
    Put(body, 0, 18);
    Put(body, static_cast<uint32_t>(groupCount < 0 ? masks.size() : groupCount), 2);
    PutMasks(body, masks);
    Entry(out, 1, body);
}

// CACHE_RELATIONSHIP: Level, Associativity, LineSize, CacheSize, Type,
// Reserved[18], GroupCount, masks at 32. Types: 0 unified, 1 instruction, 2 data.
inline void Cache(Bytes& out, uint8_t level, uint32_t kib, uint16_t group, uint32_t bits,
                  uint32_t type = 0, int groupCount = 1) {
    Bytes body;
    Put(body, level, 1);
    Put(body, 12, 1);
    Put(body, 64, 2);
    Put(body, kib * 1024, 4);
    Put(body, type, 4);
    Put(body, 0, 18);
    Put(body, static_cast<uint32_t>(groupCount), 2);
    PutMasks(body, {{group, bits}});
    Entry(out, 2, body);
}

// GROUP_RELATIONSHIP: MaximumGroupCount, ActiveGroupCount, Reserved[20], then a
// 44-byte PROCESSOR_GROUP_INFO per group: MaximumProcessorCount,
// ActiveProcessorCount, Reserved[38], ActiveProcessorMask (folded to 32 bits).
inline void Groups(Bytes& out, const std::vector<uint8_t>& active) {
    Bytes body;
    Put(body, static_cast<uint32_t>(active.size()), 2);
    Put(body, static_cast<uint32_t>(active.size()), 2);
    Put(body, 0, 20);
    for (uint8_t count : active) {
        Put(body, count, 1);
        Put(body, count, 1);
        Put(body, 0, 38);
        Put(body, count >= 32 ? 0xFFFFFFFF : (1u << count) - 1, 4);
    }
    Entry(out, 4, body);
}

}  // namespace cpu_answer
