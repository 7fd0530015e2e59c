// The seam over the real Win32 services, for kelvor-cpus.exe.
#include <windows.h>

#include <cstddef>

#include "cpus_platform.h"
#include "processor_answer.h"

// The offsets the reader uses are those of this compiler's windows.h for a
// 32-bit process. Debian's mingw-w64 headers predate EfficiencyClass and the
// GroupCount of NUMA and cache entries: those are the documented bytes of its
// Reserved arrays, just before the masks.
using Entry = SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX;
static_assert(sizeof(KAFFINITY) == 4 && sizeof(GROUP_AFFINITY) == answer::kMaskSize);
static_assert(offsetof(Entry, Relationship) == answer::kRelationship);
static_assert(offsetof(Entry, Size) == answer::kSize);
static_assert(offsetof(Entry, Processor) == answer::kBody);
static_assert(answer::kBody + offsetof(PROCESSOR_RELATIONSHIP, Reserved) ==
              answer::kEfficiencyClass);
static_assert(answer::kBody + offsetof(PROCESSOR_RELATIONSHIP, GroupCount) ==
              answer::kProcessorGroupCount);
static_assert(answer::kBody + offsetof(PROCESSOR_RELATIONSHIP, GroupMask) ==
              answer::kProcessorMasks);
static_assert(answer::kBody + offsetof(NUMA_NODE_RELATIONSHIP, NodeNumber) == answer::kNodeNumber);
static_assert(answer::kNodeGroupCount + 2 == answer::kNodeMasks);
static_assert(answer::kBody + offsetof(NUMA_NODE_RELATIONSHIP, GroupMask) == answer::kNodeMasks);
static_assert(answer::kBody + offsetof(CACHE_RELATIONSHIP, Level) == answer::kCacheLevel);
static_assert(answer::kBody + offsetof(CACHE_RELATIONSHIP, CacheSize) == answer::kCacheSize);
static_assert(answer::kBody + offsetof(CACHE_RELATIONSHIP, Type) == answer::kCacheType);
static_assert(answer::kCacheGroupCount + 2 == answer::kCacheMasks);
static_assert(answer::kBody + offsetof(CACHE_RELATIONSHIP, GroupMask) == answer::kCacheMasks);
static_assert(answer::kBody + offsetof(GROUP_RELATIONSHIP, ActiveGroupCount) ==
              answer::kActiveGroupCount);
static_assert(answer::kBody + offsetof(GROUP_RELATIONSHIP, GroupInfo) == answer::kGroupInfos);
static_assert(sizeof(PROCESSOR_GROUP_INFO) == answer::kGroupInfoSize);
static_assert(offsetof(PROCESSOR_GROUP_INFO, ActiveProcessorCount) ==
              answer::kActiveProcessorCount);
static_assert(offsetof(PROCESSOR_GROUP_INFO, ActiveProcessorMask) == answer::kActiveProcessorMask);
static_assert(offsetof(GROUP_AFFINITY, Mask) == answer::kMaskBits);
static_assert(offsetof(GROUP_AFFINITY, Group) == answer::kMaskGroup);
static_assert(RelationProcessorCore == answer::kCore && RelationNumaNode == answer::kNode &&
              RelationCache == answer::kCache && RelationProcessorPackage == answer::kPackage &&
              RelationGroup == answer::kGroup && RelationAll == answer::kAll);
static_assert(CacheUnified == answer::kUnifiedCache && CacheData == answer::kDataCache);

namespace cpus_platform {

bool GetProcessorAnswer(uint8_t* answer, uint32_t* length, uint32_t* error) {
    DWORD bytes = *length;
    const bool answered = GetLogicalProcessorInformationEx(
                              RelationAll, reinterpret_cast<Entry*>(answer), &bytes) != 0;
    *error = answered ? 0 : GetLastError();
    *length = bytes;
    return answered;
}

// The clipboard is opened by a message-only window of the predefined STATIC
// class: opened without a window, EmptyClipboard leaves it without an owner and
// SetClipboardData fails. Once set, the memory is the system's.
bool PutTextOnClipboard(const char* text, int length) {
    const HWND owner = CreateWindowExA(0, "STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr);
    if (owner == nullptr) {
        return false;
    }
    bool placed = false;
    if (OpenClipboard(owner)) {
        const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (static_cast<SIZE_T>(length) + 1) * 2);
        WCHAR* const wide = memory != nullptr ? static_cast<WCHAR*>(GlobalLock(memory)) : nullptr;
        if (wide != nullptr) {
            for (int i = 0; i <= length; ++i) {
                wide[i] = static_cast<unsigned char>(text[i]);  // ASCII, and its NUL
            }
            GlobalUnlock(memory);
            placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        }
        if (!placed && memory != nullptr) {
            GlobalFree(memory);
        }
        CloseClipboard();
    }
    // The window goes with the process, which ends after the box.
    return placed;
}

void ShowBox(const char* text, const char* caption, uint32_t style) {
    MessageBoxA(nullptr, text, caption, style);
}

}  // namespace cpus_platform
