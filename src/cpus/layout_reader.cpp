// Two passes over Windows' answer: the first checks every entry's size and finds
// the groups, which number the CPUs; the second places each CPU in its core,
// cache, node and package, refusing a CPU placed twice.
#include "layout_reader.h"

#include "processor_answer.h"

namespace {

uint32_t Word(const uint8_t* at) {
    uint32_t value;
    __builtin_memcpy(&value, at, sizeof(value));
    return value;
}

uint16_t HalfWord(const uint8_t* at) {
    uint16_t value;
    __builtin_memcpy(&value, at, sizeof(value));
    return value;
}

uint32_t LowBits(uint32_t count) {
    return count >= 32 ? 0xFFFFFFFF : (1u << count) - 1;
}

// What an entry of a known kind must hold: its fixed part, then `count` items
// (masks or group records) of `itemSize` bytes, the count being a 16-bit field.
struct EntryShape {
    uint32_t fixedSize;
    uint32_t countAt;
    uint32_t itemSize;
    bool zeroMeansOne;  // NUMA and cache entries of older Windows hold one mask, count 0
};

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

LayoutRead Fault(LayoutOutcome outcome, uint32_t value) {
    return {outcome, Relation::Core, value};
}

constexpr LayoutRead kRead = {LayoutOutcome::Read, Relation::Core, 0};

// Pass one: every entry lies within the answer and holds what its kind needs.
// Finds the one group entry and the highest level of data or unified cache.
LayoutRead CheckEntries(const uint8_t* answer, uint32_t length, const uint8_t** groups,
                        uint32_t* lastLevel) {
    *groups = nullptr;
    *lastLevel = 0;
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
        if (kind <= answer::kGroup) {
            const EntryShape& shape = kShapes[kind];
            if (size < shape.fixedSize) {
                return Fault(LayoutOutcome::EntryTooShort, offset);
            }
            if (ItemCount(entry, shape) * shape.itemSize > size - shape.fixedSize) {
                return Fault(LayoutOutcome::GroupCountDoesNotFit, offset);
            }
        }
        if (kind == answer::kGroup) {
            if (*groups != nullptr) {
                return Fault(LayoutOutcome::GroupsTwice, 0);
            }
            *groups = entry;
        }
        const uint32_t cacheType = kind == answer::kCache ? Word(entry + answer::kCacheType) : 1;
        if ((cacheType == answer::kUnifiedCache || cacheType == answer::kDataCache) &&
            entry[answer::kCacheLevel] > *lastLevel) {
            *lastLevel = entry[answer::kCacheLevel];
        }
        offset += size;
    }
    return kRead;
}

// The groups number the CPUs. A group of more than 32 stops the reading: its
// masks are folded, so nothing else in the answer can be placed.
LayoutRead ReadGroups(const uint8_t* groups, CpuLayout& layout) {
    if (groups == nullptr || HalfWord(groups + answer::kActiveGroupCount) == 0) {
        return Fault(LayoutOutcome::NoGroups, 0);
    }
    const uint32_t count = HalfWord(groups + answer::kActiveGroupCount);
    if (count > kMaxGroups) {
        return Fault(LayoutOutcome::TooManyGroups, count);
    }
    layout.groupCount = static_cast<int>(count);
    int firstCpu = 0;
    bool folded = false;
    for (uint32_t group = 0; group < count; ++group) {
        const uint8_t active = groups[answer::kGroupInfos + group * answer::kGroupInfoSize +
                                      answer::kActiveProcessorCount];
        layout.groupActive[group] = active;
        layout.groupFirstCpu[group] = static_cast<uint16_t>(firstCpu);
        firstCpu += active;
        folded = folded || active > 32;
    }
    layout.cpuCount = firstCpu;
    if (folded) {
        return Fault(LayoutOutcome::GroupsFolded, 0);
    }
    for (uint32_t group = 0; group < count; ++group) {
        const uint32_t mask = Word(groups + answer::kGroupInfos + group * answer::kGroupInfoSize +
                                   answer::kActiveProcessorMask);
        if (mask != LowBits(layout.groupActive[group])) {
            return Fault(LayoutOutcome::GroupNumbering, group);
        }
    }
    return kRead;
}

// Pass two, one entry: puts each CPU its masks name under `owner` in `owners`.
// Sets *placed when it named any CPU.
LayoutRead PlaceEntry(const uint8_t* entry, uint32_t offset, const EntryShape& shape,
                      const CpuLayout& layout, Relation relation, uint16_t* owners, uint16_t owner,
                      int* placed) {
    const uint32_t count = ItemCount(entry, shape);
    if (relation == Relation::Core && count != 1) {
        return Fault(LayoutOutcome::GroupCountDoesNotFit, offset);
    }
    *placed = 0;
    int cacheGroup = -1;
    for (uint32_t item = 0; item < count; ++item) {
        const uint8_t* mask = entry + shape.fixedSize + item * answer::kMaskSize;
        const uint32_t bits = Word(mask + answer::kMaskBits);
        const uint32_t group = HalfWord(mask + answer::kMaskGroup);
        if (bits == 0) {
            continue;
        }
        if (group >= static_cast<uint32_t>(layout.groupCount) ||
            (bits & ~LowBits(layout.groupActive[group])) != 0) {
            return Fault(LayoutOutcome::OutsideGroups, offset);
        }
        if (relation == Relation::Cache && cacheGroup >= 0 &&
            cacheGroup != static_cast<int>(group)) {
            return Fault(LayoutOutcome::CacheAcrossGroups, offset);
        }
        cacheGroup = static_cast<int>(group);
        for (int bit = 0; bit < 32; ++bit) {
            if ((bits >> bit & 1) == 0) {
                continue;
            }
            const int cpu = layout.groupFirstCpu[group] + bit;
            if (owners[cpu] != kNoOwner) {
                return {LayoutOutcome::CpuInTwo, relation, static_cast<uint32_t>(cpu)};
            }
            owners[cpu] = owner;
            ++*placed;
        }
    }
    return kRead;
}

}  // namespace

LayoutRead ReadLayout(const uint8_t* answer, uint32_t length, CpuLayout& layout) {
    layout.groupCount = 0;
    layout.cpuCount = 0;
    layout.coreCount = 0;
    layout.cacheCount = 0;
    layout.nodeCount = 0;
    layout.packageCount = 0;
    const uint8_t* groups;
    uint32_t lastLevel;
    LayoutRead read = CheckEntries(answer, length, &groups, &lastLevel);
    if (read.outcome == LayoutOutcome::Read) {
        read = ReadGroups(groups, layout);
    }
    if (read.outcome != LayoutOutcome::Read) {
        return read;
    }
    layout.cacheLevel = static_cast<uint8_t>(lastLevel);
    for (int cpu = 0; cpu < kMaxCpus; ++cpu) {
        layout.coreOf[cpu] = layout.cacheOf[cpu] = layout.nodeOf[cpu] = layout.packageOf[cpu] =
            kNoOwner;
    }

    for (uint32_t offset = 0; offset < length;) {
        const uint8_t* entry = answer + offset;
        const uint32_t kind = Word(entry + answer::kRelationship);
        offset += Word(entry + answer::kSize);
        if (kind >= answer::kGroup ||
            (kind == answer::kCache &&
             (entry[answer::kCacheLevel] != lastLevel ||
              (Word(entry + answer::kCacheType) != answer::kUnifiedCache &&
               Word(entry + answer::kCacheType) != answer::kDataCache)))) {
            continue;
        }
        int* count = &layout.coreCount;
        uint16_t* owners = layout.coreOf;
        Relation relation = Relation::Core;
        if (kind == answer::kNode) {
            count = &layout.nodeCount;
            owners = layout.nodeOf;
            relation = Relation::Node;
        } else if (kind == answer::kCache) {
            count = &layout.cacheCount;
            owners = layout.cacheOf;
            relation = Relation::Cache;
        } else if (kind == answer::kPackage) {
            count = &layout.packageCount;
            owners = layout.packageOf;
            relation = Relation::Package;
        }
        int placed;
        read = PlaceEntry(entry, offset - Word(entry + answer::kSize), kShapes[kind], layout,
                          relation, owners, static_cast<uint16_t>(*count), &placed);
        if (read.outcome != LayoutOutcome::Read) {
            return read;
        }
        if (placed == 0) {
            continue;
        }
        const int index = (*count)++;
        if (kind == answer::kCore) {
            layout.coreClass[index] = entry[answer::kEfficiencyClass];
            layout.coreThreads[index] = static_cast<uint8_t>(placed);
        } else if (kind == answer::kCache) {
            layout.cacheBytes[index] = Word(entry + answer::kCacheSize);
        } else if (kind == answer::kNode) {
            const uint32_t number = Word(entry + answer::kNodeNumber);
            for (int other = 0; other < index; ++other) {
                if (layout.nodeNumber[other] == number) {
                    return Fault(LayoutOutcome::NodeTwice, number);
                }
            }
            layout.nodeNumber[index] = number;
        }
    }

    if (layout.coreCount == 0) {
        return Fault(LayoutOutcome::NoCores, 0);
    }
    if (layout.cacheCount == 0) {
        return Fault(LayoutOutcome::NoCache, 0);
    }
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        const Relation missing = layout.coreOf[cpu] == kNoOwner   ? Relation::Core
                                 : layout.nodeOf[cpu] == kNoOwner ? Relation::Node
                                                                  : Relation::Package;
        if (layout.coreOf[cpu] == kNoOwner || layout.nodeOf[cpu] == kNoOwner ||
            layout.packageOf[cpu] == kNoOwner) {
            return {LayoutOutcome::CpuInNone, missing, static_cast<uint32_t>(cpu)};
        }
    }
    return kRead;
}
