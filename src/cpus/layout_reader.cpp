// Two walks over Windows' answer: the first checks every entry's size and finds
// the groups, which number the CPUs; the second places each CPU in its core,
// NUMA node, last-level cache and package, refusing a CPU placed twice.
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

// What an entry of a known kind holds: its fixed fields, then a 16-bit count of
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

uint32_t ItemCount(const uint8_t* entry, uint32_t kind) {
    const uint32_t count = HalfWord(entry + kShapes[kind].countAt);
    return count == 0 && kShapes[kind].zeroMeansOne ? 1 : count;
}

// A last-level cache holding data: the only caches the layout keeps.
bool IsKeptCache(const uint8_t* entry, uint32_t level) {
    const uint32_t type = Word(entry + answer::kCacheType);
    return (type == answer::kUnifiedCache || type == answer::kDataCache) &&
           entry[answer::kCacheLevel] == level;
}

// Internally a reading step gives the offset of the entry at fault, kMissing
// when the answer lacks something, or kFine or kFolded.
constexpr uint32_t kMissing = 0xFFFFFFFF;
constexpr uint32_t kFine = 0xFFFFFFFE;
constexpr uint32_t kFolded = 0xFFFFFFFD;

// The CPU number of processor `bit` of `group`.
int CpuOf(const CpuLayout& layout, uint32_t group, int bit) {
    for (uint32_t earlier = 0; earlier < group; ++earlier) {
        bit += layout.groupActive[earlier];
    }
    return bit;
}

// The groups, from the group entry at `at`, number the CPUs. A group of more than
// 32 stops the reading: its masks are folded, so nothing else can be placed.
uint32_t ReadGroups(const uint8_t* answer, uint32_t at, CpuLayout& layout) {
    if (at == kMissing) {
        return kMissing;
    }
    const uint32_t count = HalfWord(answer + at + answer::kActiveGroupCount);
    if (count == 0 || count > kMaxGroups) {
        return at;
    }
    layout.groupCount = static_cast<int>(count);
    const uint8_t* const infos = answer + at + answer::kGroupInfos;
    bool folded = false;
    for (uint32_t group = 0; group < count; ++group) {
        const uint8_t active =
            infos[group * answer::kGroupInfoSize + answer::kActiveProcessorCount];
        layout.groupActive[group] = active;
        layout.cpuCount += active;
        folded |= active > 32;
    }
    if (folded) {
        return kFolded;
    }
    int first = 0;  // the CPU number of the group's processor 0
    for (uint32_t group = 0; group < count; ++group) {
        if (Word(infos + group * answer::kGroupInfoSize + answer::kActiveProcessorMask) !=
            LowBits(layout.groupActive[group])) {
            return at;
        }
        for (int bit = 0; bit < layout.groupActive[group]; ++bit) {
            layout.owner[Group][first++] = static_cast<int32_t>(group);
        }
    }
    return kFine;
}

// One entry of `relation`: every CPU its masks name, placed under the entry's
// owner number. A core, cache or package is named by its lowest CPU, known once
// all are placed, so they are marked kPlacing first. False: the entry is at fault.
constexpr int32_t kPlacing = kNoOwner - 1;

bool PlaceEntry(const uint8_t* entry, Relation relation, CpuLayout& layout) {
    const uint32_t count = ItemCount(entry, relation);
    if (relation == Core && count != 1) {
        return false;
    }
    uint32_t owner = relation == Node ? Word(entry + answer::kNodeNumber) : kMaxCpus;
    uint32_t cacheGroup = kMaxGroups;
    for (uint32_t item = 0; item < count; ++item) {
        const uint8_t* mask = entry + kShapes[relation].fixedSize + item * answer::kMaskSize;
        const uint32_t bits = Word(mask + answer::kMaskBits);
        const uint32_t group = HalfWord(mask + answer::kMaskGroup);
        if (bits == 0) {
            continue;
        }
        // Bits outside the groups, or a cache across groups.
        if (group >= static_cast<uint32_t>(layout.groupCount) ||
            (bits & ~LowBits(layout.groupActive[group])) != 0 ||
            (relation == Cache && cacheGroup != kMaxGroups && cacheGroup != group)) {
            return false;
        }
        cacheGroup = group;
        for (uint32_t rest = bits; rest != 0; rest &= rest - 1) {
            const uint32_t cpu = CpuOf(layout, group, __builtin_ctz(rest));
            if (layout.owner[relation][cpu] != kNoOwner) {
                return false;  // a CPU placed twice
            }
            layout.owner[relation][cpu] = kPlacing;
            if (relation == Core) {
                layout.owner[Kind][cpu] = 255 - entry[answer::kEfficiencyClass];
            }
            owner = relation == Node || cpu > owner ? owner : cpu;
        }
    }
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (layout.owner[relation][cpu] == kPlacing) {
            // Only a node's number can be this high; a node without CPUs may.
            if (owner >= kMaxCpus) {
                return false;
            }
            layout.owner[relation][cpu] = static_cast<int32_t>(owner);
        }
    }
    if (relation == Cache) {
        layout.cacheBytes[owner] = Word(entry + answer::kCacheSize);  // kMaxCpus: no CPUs
    }
    return true;
}

// One walk over the answer, checking that every entry lies within it and holds
// what its kind needs. The first walk finds the one group entry and the highest
// level of data or unified cache; the second, with `place`, places the CPUs.
uint32_t Walk(const uint8_t* answer, uint32_t length, uint32_t* groupsAt, bool place,
              CpuLayout& layout) {
    for (uint32_t offset = 0; offset < length;) {
        const uint8_t* entry = answer + offset;
        if (length - offset < answer::kBody) {
            return offset;  // not even its kind and size
        }
        const uint32_t kind = Word(entry + answer::kRelationship);
        const uint32_t size = Word(entry + answer::kSize);
        // Past the end, shorter than its kind (so size 0 too) or than its items.
        if (size > length - offset ||
            size < (kind <= Group ? kShapes[kind].fixedSize : answer::kBody) ||
            (kind <= Group &&
             ItemCount(entry, kind) * kShapes[kind].itemSize > size - kShapes[kind].fixedSize)) {
            return offset;
        }
        if (place) {
            if (kind < Group && (kind != Cache || IsKeptCache(entry, layout.cacheLevel)) &&
                !PlaceEntry(entry, static_cast<Relation>(kind), layout)) {
                return offset;
            }
        } else if (kind == Group) {
            if (*groupsAt != kMissing) {
                return offset;
            }
            *groupsAt = offset;
        } else if (kind == Cache && IsKeptCache(entry, entry[answer::kCacheLevel]) &&
                   entry[answer::kCacheLevel] > layout.cacheLevel) {
            layout.cacheLevel = entry[answer::kCacheLevel];
        }
        offset += size;
    }
    return kFine;
}

// Every CPU is in a core, a node and a package, and some are in a last-level cache.
uint32_t CheckCovered(const CpuLayout& layout) {
    // Owners lie in 0..kMaxCpus-1 and kNoOwner is -1: an or of owners is negative
    // when one is kNoOwner; an and of them is not negative once one is an owner.
    int cached = kNoOwner;
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        cached &= layout.owner[Cache][cpu];
        if ((layout.owner[Core][cpu] | layout.owner[Node][cpu] | layout.owner[Package][cpu]) < 0) {
            return kMissing;
        }
    }
    return cached >= 0 ? kFine : kMissing;
}

}  // namespace

// Not inlined: in the exe, whole-program inlining would turn every access to the
// layout into one through its fixed address, which costs more code.
[[gnu::noinline]] LayoutRead ReadLayout(const uint8_t* answer, uint32_t length, CpuLayout& layout) {
    __builtin_memset(&layout, 0, sizeof(layout));
    __builtin_memset(layout.owner, 0xFF, sizeof(layout.owner));
    uint32_t groupsAt = kMissing;
    uint32_t fault = Walk(answer, length, &groupsAt, false, layout);
    if (fault == kFine) {
        fault = ReadGroups(answer, groupsAt, layout);
    }
    if (fault == kFolded) {
        return {LayoutOutcome::GroupsFolded, 0};
    }
    if (fault == kFine) {
        fault = Walk(answer, length, &groupsAt, true, layout);
    }
    if (fault == kFine) {
        fault = CheckCovered(layout);
    }
    return fault == kFine
               ? LayoutRead{LayoutOutcome::Read, 0}
               : LayoutRead{LayoutOutcome::Unreadable, fault == kMissing ? length : fault};
}
