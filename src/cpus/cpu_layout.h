// The processor layout as kelvor-cpus reads it from Windows' answer: plain
// fixed-size arrays, no allocation. CPUs are numbered as Task Manager does: a
// processor's index within its group plus the active processors of earlier groups.
#pragma once

#include <cstdint>

constexpr int kMaxGroups = 32;
// A readable group has at most 32 active processors (see GroupsFolded).
constexpr int kMaxCpus = kMaxGroups * 32;
constexpr uint16_t kNoOwner = 0xFFFF;

struct CpuLayout {
    int groupCount;
    uint8_t groupActive[kMaxGroups];  // active processors; above 32 when folded
    uint16_t groupFirstCpu[kMaxGroups];
    int cpuCount;
    int coreCount;
    uint8_t coreClass[kMaxCpus];  // efficiency class: higher is faster
    uint8_t coreThreads[kMaxCpus];
    int cacheCount;  // last-level caches only
    uint8_t cacheLevel;
    uint32_t cacheBytes[kMaxCpus];
    int nodeCount;
    uint32_t nodeNumber[kMaxCpus];
    int packageCount;
    // For each CPU, the index of its core, last-level cache, NUMA node and
    // package, in the order Windows listed them; kNoOwner when none.
    uint16_t coreOf[kMaxCpus];
    uint16_t cacheOf[kMaxCpus];
    uint16_t nodeOf[kMaxCpus];
    uint16_t packageOf[kMaxCpus];
};

// How the reading went. Read: the whole layout. GroupsFolded: only the groups and
// their counts, because a 32-bit program sees a group of more than 32 processors
// folded onto processors 0 to 31. Everything else is a fault, told in a sentence.
enum class LayoutOutcome : uint8_t {
    Read,
    GroupsFolded,
    CallRefused,     // value: Windows' error number
    AnswerTooLarge,  // value: the bytes Windows needs
    EntrySizeZero,   // value: the entry's offset in the answer
    EntryTooShort,
    EntryPastEnd,
    GroupCountDoesNotFit,
    OutsideGroups,
    CacheAcrossGroups,
    NoGroups,
    GroupsTwice,
    TooManyGroups,   // value: the group count
    GroupNumbering,  // value: the group
    NodeTwice,       // value: the node number
    NoCores,
    NoCache,
    CpuInTwo,  // value: the CPU; relation: core, cache, node or package
    CpuInNone,
};

enum class Relation : uint8_t { Core, Cache, Node, Package };

struct LayoutRead {
    LayoutOutcome outcome;
    Relation relation;
    uint32_t value;
};
