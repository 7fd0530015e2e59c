// Where GetLogicalProcessorInformationEx(RelationAll) puts each field in the buffer
// it fills for a 32-bit process: a run of SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX
// entries, each Relationship and Size, then the structure of its kind, with a
// 32-bit KAFFINITY in every mask. Offsets count from the start of an entry; the
// exe's Win32 seam holds them to windows.h.
#pragma once

#include <cstdint>

namespace answer {

// LOGICAL_PROCESSOR_RELATIONSHIP values an entry may carry.
constexpr uint32_t kCore = 0;     // RelationProcessorCore
constexpr uint32_t kNode = 1;     // RelationNumaNode
constexpr uint32_t kCache = 2;    // RelationCache
constexpr uint32_t kPackage = 3;  // RelationProcessorPackage
constexpr uint32_t kGroup = 4;    // RelationGroup
constexpr uint32_t kAll = 0xFFFF;

constexpr uint32_t kRelationship = 0;
constexpr uint32_t kSize = 4;
constexpr uint32_t kBody = 8;  // the union of the four structures

// PROCESSOR_RELATIONSHIP (cores and packages)
constexpr uint32_t kEfficiencyClass = kBody + 1;
constexpr uint32_t kProcessorGroupCount = kBody + 22;
constexpr uint32_t kProcessorMasks = kBody + 24;
// NUMA_NODE_RELATIONSHIP
constexpr uint32_t kNodeNumber = kBody + 0;
constexpr uint32_t kNodeGroupCount = kBody + 22;
constexpr uint32_t kNodeMasks = kBody + 24;
// CACHE_RELATIONSHIP
constexpr uint32_t kCacheLevel = kBody + 0;
constexpr uint32_t kCacheSize = kBody + 4;
constexpr uint32_t kCacheType = kBody + 8;
constexpr uint32_t kCacheGroupCount = kBody + 30;
constexpr uint32_t kCacheMasks = kBody + 32;
constexpr uint32_t kUnifiedCache = 0;  // PROCESSOR_CACHE_TYPE CacheUnified
constexpr uint32_t kDataCache = 2;     // CacheData
// GROUP_RELATIONSHIP and its PROCESSOR_GROUP_INFO array
constexpr uint32_t kActiveGroupCount = kBody + 2;
constexpr uint32_t kGroupInfos = kBody + 24;
constexpr uint32_t kGroupInfoSize = 44;
constexpr uint32_t kActiveProcessorCount = 1;  // within one PROCESSOR_GROUP_INFO
constexpr uint32_t kActiveProcessorMask = 40;
// GROUP_AFFINITY
constexpr uint32_t kMaskSize = 12;
constexpr uint32_t kMaskBits = 0;
constexpr uint32_t kMaskGroup = 4;

}  // namespace answer
