// Two passes over Windows' answer: the first checks every entry's size and finds
// the groups, which number the CPUs; the second places each CPU in its core,
// NUMA node, cache and package, refusing a CPU placed twice.
#include "layout_reader.h"

#include "processor_answer.h"

namespace {

uint32_t Word(const uint8_t* at) {
    uint32_t value;
    __builtin_memcpy(&value, at, sizeof(value));
    return value;
}

uint32_t HalfWord(const uint8_t* at) {
    uint16_t value;
    __builtin_memcpy(&value, at, sizeof(value));
    return value;
}

uint32_t LowBits(uint32_t count) {
    return count >= 32 ? 0xFFFFFFFF : (1u << count) - 1;
}

// What an entry of a known kind holds: its fixed part, then a 16-bit count of
// items (masks or group records) of `itemSize` bytes.
struct EntryShape {
    uint8_t fixedSize;
    uint8_t countAt;
    uint8_t itemSize;
    bool zeroMeansOne;  // NUMA and cache entries of older Windows: one mask, count 0
};

// Indexed by the relationship numbers Core to Group.
constexpr EntryShape kShapes[] = {
    {answer::kProcessorMasks, answer::kProcessorGroupCount, answer::kMaskSize, false},
    {answer::kNodeMasks, answer::kNodeGroupCount, answer::kMaskSize, true},
    {answer::kCacheMasks, answer::kCacheGroupCount, answer::kMaskSize, true},
    {answer::kProcessorMasks, answer::kProcessorGroupCount, answer::kMaskSize, false},
    {answer::kGroupInfos, answer::kActiveGroupCount, answer::kGroupInfoSize, false},
};

uint32_t ItemCount(const uint8_t* entry, const EntryShape& shape) {
    const uint32_t count = HalfWord(entry + shape.countAt);
    return count == 0 && shape.zeroMeansOne ? 1 : count;
}

bool IsDataCache(const uint8_t* entry) {
    const uint32_t type = Word(entry + answer::kCacheType);
    return type == answer::kUnifiedCache || type == answer::kDataCache;
}

LayoutRead Fault(LayoutOutcome outcome, uint32_t value) {
    return {outcome, Core, value};
}

constexpr LayoutRead kRead = {LayoutOutcome::Read, Core, 0};

// Pass one: every entry lies within the answer and holds what its kind needs.
// Finds the one group entry and the highest level of data or unified cache.
LayoutRead CheckEntries(const uint8_t* answer, uint32_t length, const uint8_t** groups,
                        CpuLayout& layout) {
    for (uint32_t offset = 0; offset < length;) {
        const uint8_t* entry = answer + offset;
        if (length - offset < answer::kBody) {
            return Fault(LayoutOutcome::EntryPastEnd, offset);
        }
        const uint32_t kind = Word(entry + answer::kRelationship);
        const uint32_t size = Word(entry + answer::kSize);
        if (size == 0) {
            return Fault(LayoutOutcome::EntrySizeZero, offset);
        }
        if (size > length - offset) {
            return Fault(LayoutOutcome::EntryPastEnd, offset);
        }
        if (size < answer::kBody) {
            return Fault(LayoutOutcome::EntryTooShort, offset);
        }
        if (kind <= Group) {
            const EntryShape& shape = kShapes[kind];
            if (size < shape.fixedSize) {
                return Fault(LayoutOutcome::EntryTooShort, offset);
            }
            if (ItemCount(entry, shape) * shape.itemSize > size - shape.fixedSize) {
                return Fault(LayoutOutcome::GroupCountDoesNotFit, offset);
            }
        }
        if (kind == Group) {
            if (*groups != nullptr) {
                return Fault(LayoutOutcome::GroupsTwice, 0);
            }
            *groups = entry;
        }
        if (kind == Cache && IsDataCache(entry) && entry[answer::kCacheLevel] > layout.cacheLevel) {
            layout.cacheLevel = entry[answer::kCacheLevel];
        }
        offset += size;
    }
    return kRead;
}

// The groups number the CPUs. A group of more than 32 stops the reading: its
// masks are folded, so nothing else in the answer can be placed.
LayoutRead ReadGroups(const uint8_t* groups, CpuLayout& layout) {
    const uint32_t count = groups != nullptr ? HalfWord(groups + answer::kActiveGroupCount) : 0;
    if (count == 0) {
        return Fault(LayoutOutcome::NoGroups, 0);
    }
    if (count > kMaxGroups) {
        return Fault(LayoutOutcome::TooManyGroups, count);
    }
    layout.count[Group] = static_cast<int>(count);
    const uint8_t* const infos = groups + answer::kGroupInfos;
    bool folded = false;
    for (uint32_t group = 0; group < count; ++group) {
        const uint32_t active =
            infos[group * answer::kGroupInfoSize + answer::kActiveProcessorCount];
        layout.value[Group][group] = active;
        layout.cpuCount += static_cast<int>(active);
        folded = folded || active > 32;
    }
    if (folded) {
        return Fault(LayoutOutcome::GroupsFolded, 0);
    }
    int cpu = 0;
    for (uint32_t group = 0; group < count; ++group) {
        const uint32_t active = layout.value[Group][group];
        if (Word(infos + group * answer::kGroupInfoSize + answer::kActiveProcessorMask) !=
            LowBits(active)) {
            return Fault(LayoutOutcome::GroupNumbering, group);
        }
        for (uint32_t i = 0; i < active; ++i) {
            layout.owner[Group][cpu++] = static_cast<uint16_t>(group);
        }
    }
    return kRead;
}

// The CPU number of processor `bit` of `group`.
int CpuOf(const CpuLayout& layout, uint32_t group, int bit) {
    int cpu = bit;
    for (uint32_t earlier = 0; earlier < group; ++earlier) {
        cpu += static_cast<int>(layout.value[Group][earlier]);
    }
    return cpu;
}

// Pass two, one entry of relation `relation`: gives each CPU its masks name the
// next owner. Returns how many it placed in *placed.
LayoutRead PlaceEntry(const uint8_t* entry, uint32_t offset, Relation relation, CpuLayout& layout,
                      int* placed) {
    const uint32_t count = ItemCount(entry, kShapes[relation]);
    if (relation == Core && count != 1) {
        return Fault(LayoutOutcome::GroupCountDoesNotFit, offset);
    }
    int cacheGroup = -1;
    for (uint32_t item = 0; item < count; ++item) {
        const uint8_t* mask = entry + kShapes[relation].fixedSize + item * answer::kMaskSize;
        const uint32_t bits = Word(mask + answer::kMaskBits);
        const uint32_t group = HalfWord(mask + answer::kMaskGroup);
        if (bits == 0) {
            continue;
        }
        if (group >= static_cast<uint32_t>(layout.count[Group]) ||
            (bits & ~LowBits(layout.value[Group][group])) != 0) {
            return Fault(LayoutOutcome::OutsideGroups, offset);
        }
        if (relation == Cache && cacheGroup >= 0 && cacheGroup != static_cast<int>(group)) {
            return Fault(LayoutOutcome::CacheAcrossGroups, offset);
        }
        cacheGroup = static_cast<int>(group);
        for (int bit = 0; bit < 32; ++bit) {
            if ((bits >> bit & 1) == 0) {
                continue;
            }
            uint16_t& owner = layout.owner[relation][CpuOf(layout, group, bit)];
            if (owner != kNoOwner) {
                return {LayoutOutcome::CpuInTwo, relation,
                        static_cast<uint32_t>(CpuOf(layout, group, bit))};
            }
            owner = static_cast<uint16_t>(layout.count[relation]);
            ++*placed;
        }
    }
    return kRead;
}

// Numbers the owners of `relation` by their lowest CPU, or nodes by node number.
void Renumber(CpuLayout& layout, Relation relation) {
    static uint16_t newOwner[kMaxCpus];
    static uint32_t newValue[kMaxCpus];
    uint16_t next = 0;
    for (int owner = 0; owner < layout.count[relation]; ++owner) {
        newOwner[owner] = kNoOwner;
    }
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        const uint16_t owner = layout.owner[relation][cpu];
        if (owner != kNoOwner && newOwner[owner] == kNoOwner) {
            newOwner[owner] = next++;
        }
    }
    for (int owner = 0; owner < layout.count[relation]; ++owner) {
        if (relation == Node) {
            newOwner[owner] = 0;
            for (int other = 0; other < layout.count[Node]; ++other) {
                newOwner[owner] += layout.value[Node][other] < layout.value[Node][owner];
            }
        }
        newValue[newOwner[owner]] = layout.value[relation][owner];
    }
    for (int owner = 0; owner < layout.count[relation]; ++owner) {
        layout.value[relation][owner] = newValue[owner];
    }
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        uint16_t& owner = layout.owner[relation][cpu];
        owner = owner == kNoOwner ? kNoOwner : newOwner[owner];
    }
}

// Kinds of core, from the fastest efficiency class down.
void FindKinds(CpuLayout& layout) {
    for (int value = 255; value >= 0; --value) {
        bool present = false;
        for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
            if (layout.value[Core][layout.owner[Core][cpu]] == static_cast<uint32_t>(value)) {
                layout.owner[Kind][cpu] = static_cast<uint16_t>(layout.count[Kind]);
                present = true;
            }
        }
        if (present) {
            layout.value[Kind][layout.count[Kind]++] = static_cast<uint32_t>(value);
        }
    }
}

}  // namespace

LayoutRead ReadLayout(const uint8_t* answer, uint32_t length, CpuLayout& layout) {
    __builtin_memset(&layout, 0, sizeof(layout));
    for (int cpu = 0; cpu < kMaxCpus; ++cpu) {
        for (int relation = Core; relation < Group; ++relation) {
            layout.owner[relation][cpu] = kNoOwner;
        }
    }
    const uint8_t* groups = nullptr;
    LayoutRead read = CheckEntries(answer, length, &groups, layout);
    if (read.outcome == LayoutOutcome::Read) {
        read = ReadGroups(groups, layout);
    }
    if (read.outcome != LayoutOutcome::Read) {
        return read;
    }

    for (uint32_t offset = 0; offset < length;) {
        const uint8_t* entry = answer + offset;
        const uint32_t kind = Word(entry + answer::kRelationship);
        const uint32_t at = offset;
        offset += Word(entry + answer::kSize);
        if (kind >= Group || (kind == Cache && (entry[answer::kCacheLevel] != layout.cacheLevel ||
                                                !IsDataCache(entry)))) {
            continue;
        }
        const Relation relation = static_cast<Relation>(kind);
        int placed = 0;
        read = PlaceEntry(entry, at, relation, layout, &placed);
        if (read.outcome != LayoutOutcome::Read) {
            return read;
        }
        if (placed == 0) {
            continue;
        }
        const uint32_t value = relation == Core    ? entry[answer::kEfficiencyClass]
                               : relation == Cache ? Word(entry + answer::kCacheSize)
                                                   : Word(entry + answer::kNodeNumber);
        for (int other = 0; relation == Node && other < layout.count[Node]; ++other) {
            if (layout.value[Node][other] == value) {
                return Fault(LayoutOutcome::NodeTwice, value);
            }
        }
        layout.value[relation][layout.count[relation]++] = value;
    }

    if (layout.count[Core] == 0) {
        return Fault(LayoutOutcome::NoCores, 0);
    }
    if (layout.count[Cache] == 0) {
        return Fault(LayoutOutcome::NoCache, 0);
    }
    // Every CPU is in a core, a node and a package; it may lack a last-level cache.
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        for (int relation = Core; relation <= Package; ++relation) {
            if (relation != Cache && layout.owner[relation][cpu] == kNoOwner) {
                return {LayoutOutcome::CpuInNone, static_cast<Relation>(relation),
                        static_cast<uint32_t>(cpu)};
            }
        }
    }
    for (int relation = Core; relation <= Package; ++relation) {
        Renumber(layout, static_cast<Relation>(relation));
    }
    FindKinds(layout);
    return kRead;
}
