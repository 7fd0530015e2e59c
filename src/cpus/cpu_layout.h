// The processor layout as kelvor-cpus reads it from Windows' answer: plain
// fixed-size arrays, no allocation. CPUs are numbered as Task Manager does: a
// processor's index within its group plus the active processors of earlier groups.
#pragma once

#include <cstdint>

constexpr int kMaxGroups = 32;
// A readable group has at most 32 active processors (see GroupsFolded).
constexpr int kMaxCpus = kMaxGroups * 32;
constexpr int32_t kNoOwner = -1;

// What a CPU belongs to (word-sized, for shorter code). The first four are Windows' own
// relationship numbers; a kind is the cores of one efficiency class.
enum Relation : int { Core, Node, Cache, Package, Group, Kind, kRelations };

// Each CPU's owner of each relation is named by a number that also orders the
// owners as the line lists them: a core, last-level cache or package by its
// lowest CPU, a node by its node number, a group by its own, a kind by 255 less
// its efficiency class, so the fastest comes first.
struct CpuLayout {
    int cpuCount;
    int groupCount;
    int32_t groupActive[kMaxGroups];      // active processors; above 32 when folded
    uint32_t cacheLevel;                  // of the last-level caches, the only caches kept
    uint32_t cacheBytes[kMaxCpus + 1];    // by cache; the last for caches without CPUs
    int32_t owner[kRelations][kMaxCpus];  // 32-bit: shorter code than 16-bit
};

// How the reading went. Read: the whole layout. GroupsFolded: only the groups and
// their counts, because a 32-bit program sees a group of more than 32 processors
// folded onto processors 0 to 31. Everything else is a fault, told in a sentence.
enum class LayoutOutcome : uint8_t {
    Read,
    GroupsFolded,
    CallRefused,     // value: Windows' error number
    AnswerTooLarge,  // value: the bytes Windows needs
    // value: the offset of the entry at fault, or the answer's length when it
    // lacks something (groups, cores, a last-level cache, a CPU's core, node or package)
    Unreadable,
};

struct LayoutRead {
    LayoutOutcome outcome;
    uint32_t value;
};
