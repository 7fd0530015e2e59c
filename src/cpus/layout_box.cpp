// The box in words a reader needs no terms for: counts, kinds of core, caches,
// NUMA nodes and groups when there is more than one, then kelvor's masks and the line.
#include "layout_box.h"

#include "cpu_sets.h"
#include "text_out.h"

namespace {

constexpr char kUnreadable[] = "Windows' description of the processors cannot be read: ";
constexpr const char* kRelationNames[] = {"core", "last-level cache", "NUMA node", "package"};

// The sentence for each fault, in LayoutOutcome order from CallRefused: the text
// before the outcome's value, and after it (null: the value is not shown).
struct FaultWords {
    const char* before;
    const char* after;
};
constexpr FaultWords kFaultWords[] = {
    {"Windows did not describe the processors: error ", "."},
    {"Windows' description of the processors needs ", " bytes, more than this program holds."},
    {"the entry at byte ", " has size 0."},
    {"the entry at byte ", " is too short for its kind."},
    {"the entry at byte ", " runs past the end."},
    {"the entry at byte ", " has a group count that does not fit."},
    {"the entry at byte ", " names processors outside the groups Windows reported."},
    {"the entry at byte ", " is a cache shared across processor groups."},
    {"it names no processor groups.", nullptr},
    {"it names the processor groups twice.", nullptr},
    {"it names ", " processor groups, more than this program holds."},
    {"the processors of group ", " are not numbered from 0."},
    {"it names NUMA node ", " twice."},
    {"it names no cores.", nullptr},
    {"it names no data cache.", nullptr},
    {"it puts cpu", " in two "},
    {"it puts cpu", " in no "},
};

void PutFault(TextOut& out, const LayoutRead& read) {
    const int index = static_cast<int>(read.outcome) - static_cast<int>(LayoutOutcome::CallRefused);
    if (index >= 2) {
        Put(out, kUnreadable);
    }
    const FaultWords& words = kFaultWords[index];
    Put(out, words.before);
    if (words.after != nullptr) {
        PutNumber(out, read.value);
        Put(out, words.after);
    }
    if (read.outcome >= LayoutOutcome::CpuInTwo) {
        Put(out, kRelationNames[static_cast<int>(read.relation)]);
        if (read.outcome == LayoutOutcome::CpuInTwo) {
            PutChar(out, 's');
        }
        PutChar(out, '.');
    }
}

void PutSummary(TextOut& out, const CpuLayout& layout) {
    Put(out, "This computer has ");
    PutCount(out, static_cast<uint32_t>(layout.cpuCount), "CPU");
    Put(out, " (logical processors)");
    if (layout.coreCount > 0) {
        Put(out, " on ");
        PutCount(out, static_cast<uint32_t>(layout.coreCount), "core");
    }
    Put(out, ", in ");
    if (layout.packageCount > 1) {
        PutCount(out, static_cast<uint32_t>(layout.packageCount), "package");
        Put(out, " (sockets) and ");
    }
    PutCount(out, static_cast<uint32_t>(layout.groupCount), "processor group");
    Put(out, ".\n");
}

CpuSet GroupCpus(const CpuLayout& layout, int group) {
    CpuSet set{};
    for (int i = 0; i < layout.groupActive[group]; ++i) {
        AddCpu(set, layout.groupFirstCpu[group] + i);
    }
    return set;
}

void PutGroups(TextOut& out, const CpuLayout& layout, bool folded) {
    Put(out, "\nProcessor groups:\n");
    for (int group = 0; group < layout.groupCount; ++group) {
        Put(out, "  group ");
        PutNumber(out, static_cast<uint32_t>(group));
        Put(out, ": ");
        if (folded) {
            PutCount(out, layout.groupActive[group], "CPU");
        } else {
            PutBoxCpus(out, layout, GroupCpus(layout, group));
        }
        PutChar(out, '\n');
    }
}

// Efficiency classes present, from the highest. Returns how many.
int ClassesPresent(const CpuLayout& layout, uint8_t* classes) {
    int count = 0;
    for (int value = 255; value >= 0; --value) {
        for (int core = 0; core < layout.coreCount; ++core) {
            if (layout.coreClass[core] == value) {
                classes[count++] = static_cast<uint8_t>(value);
                break;
            }
        }
    }
    return count;
}

// "P-cores", "E-cores" or "E-cores (class N)" for the kind at `rank` of `kinds`.
void PutKindName(TextOut& out, int rank, int kinds, uint8_t value) {
    Put(out, rank == 0 ? "P-cores" : "E-cores");
    if (rank > 0 && kinds > 2) {
        Put(out, " (class ");
        PutNumber(out, value);
        PutChar(out, ')');
    }
}

CpuSet KindCpus(const CpuLayout& layout, uint8_t value) {
    CpuSet set{};
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (layout.coreClass[layout.coreOf[cpu]] == value) {
            AddCpu(set, cpu);
        }
    }
    return set;
}

void PutKinds(TextOut& out, const CpuLayout& layout, const uint8_t* classes, int kinds) {
    Put(out, "\nKinds of core:\n");
    for (int rank = 0; rank < kinds; ++rank) {
        int cores = 0;
        int threads = -1;
        for (int core = 0; core < layout.coreCount; ++core) {
            if (layout.coreClass[core] == classes[rank]) {
                ++cores;
                threads = threads < 0 || threads == layout.coreThreads[core]
                              ? layout.coreThreads[core]
                              : 0;
            }
        }
        Put(out, "  ");
        PutKindName(out, rank, kinds, classes[rank]);
        Put(out, ": ");
        PutCount(out, static_cast<uint32_t>(cores), "core");
        if (threads > 0) {
            Put(out, ", ");
            PutCount(out, static_cast<uint32_t>(threads), "thread");
            Put(out, " each");
        }
        Put(out, ": ");
        PutBoxCpus(out, layout, KindCpus(layout, classes[rank]));
        PutChar(out, '\n');
    }
}

// "96 MB L3" or "512 KB L2".
void PutCacheName(TextOut& out, const CpuLayout& layout, int cache) {
    const uint32_t kib = layout.cacheBytes[cache] / 1024;
    PutNumber(out, kib % 1024 == 0 ? kib / 1024 : kib);
    Put(out, kib % 1024 == 0 ? " MB L" : " KB L");
    PutNumber(out, layout.cacheLevel);
}

void PutCaches(TextOut& out, const CpuLayout& layout) {
    Put(out, "\nLast-level caches (CPUs that share one work well together):\n");
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        if (LowestOfOwner(layout.cacheOf, cpu)) {
            Put(out, "  ");
            PutCacheName(out, layout, layout.cacheOf[cpu]);
            Put(out, ": ");
            PutBoxCpus(out, layout, OwnedBy(layout, layout.cacheOf, layout.cacheOf[cpu]));
            PutChar(out, '\n');
        }
    }
}

void PutNodes(TextOut& out, const CpuLayout& layout) {
    Put(out, "\nNUMA nodes (CPUs with their own nearby memory):\n");
    for (int node = NodeAfter(layout, -1); node >= 0; node = NodeAfter(layout, node)) {
        Put(out, "  node ");
        PutNumber(out, layout.nodeNumber[node]);
        Put(out, ": ");
        PutBoxCpus(out, layout, OwnedBy(layout, layout.nodeOf, static_cast<uint16_t>(node)));
        PutChar(out, '\n');
    }
}

// Ends one pick, whose name starts at `name`: its mask, or the name taken back
// when kelvor can name none of its CPUs.
void EndPick(TextOut& out, char* name, const CpuLayout& layout, const CpuSet& set) {
    const uint32_t mask = KelvorMask(layout, set);
    if (mask == 0) {
        out.at = name;
        return;
    }
    Put(out, ": ");
    PutNumber(out, mask);
    PutChar(out, '\n');
}

void PutMasks(TextOut& out, const CpuLayout& layout, const uint8_t* classes, int kinds) {
    Put(out, "\nkelvor's <affinity> for:\n");
    CpuSet all{};
    CpuSet firstThreads{};
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        AddCpu(all, cpu);
        if (LowestOfOwner(layout.coreOf, cpu)) {
            AddCpu(firstThreads, cpu);
        }
    }
    char* name = out.at;
    Put(out, "  all CPUs");
    EndPick(out, name, layout, all);
    for (int rank = 0; kinds > 1 && rank < kinds; ++rank) {
        name = out.at;
        Put(out, "  ");
        PutKindName(out, rank, kinds, classes[rank]);
        EndPick(out, name, layout, KindCpus(layout, classes[rank]));
    }
    if (layout.coreCount < layout.cpuCount) {
        name = out.at;
        Put(out, "  one thread per core");
        EndPick(out, name, layout, firstThreads);
    }
    for (int cpu = 0; layout.cacheCount > 1 && cpu < layout.cpuCount; ++cpu) {
        if (LowestOfOwner(layout.cacheOf, cpu)) {
            const CpuSet set = OwnedBy(layout, layout.cacheOf, layout.cacheOf[cpu]);
            name = out.at;
            Put(out, "  ");
            PutCacheName(out, layout, layout.cacheOf[cpu]);
            Put(out, " of ");
            PutBoxCpus(out, layout, set);
            EndPick(out, name, layout, set);
        }
    }
    if (layout.groupActive[0] == 32) {
        Put(out, "kelvor cannot name cpu31: bit 31 would make the mask negative.\n");
    }
}

}  // namespace

int ComposeLayoutBox(const CpuLayout& layout, const LayoutRead& read, const char* line,
                     bool onClipboard, char* text, int capacity) {
    TextOut out = StartText(text, capacity);
    if (read.outcome == LayoutOutcome::GroupsFolded) {
        PutSummary(out, layout);
        PutGroups(out, layout, true);
        Put(out,
            "\nA 32-bit program such as this one sees a group of more than 32 CPUs folded onto "
            "its first 32, so the layout cannot be read and there is no line for the command "
            "builder.");
        return EndText(out);
    }
    if (read.outcome != LayoutOutcome::Read) {
        PutFault(out, read);
        return EndText(out);
    }
    PutSummary(out, layout);
    uint8_t classes[256];
    const int kinds = ClassesPresent(layout, classes);
    if (kinds > 1) {
        PutKinds(out, layout, classes, kinds);
    }
    if (layout.cacheCount > 1) {
        PutCaches(out, layout);
    }
    if (layout.nodeCount > 1) {
        PutNodes(out, layout);
    }
    if (layout.groupCount > 1) {
        PutGroups(out, layout, false);
        Put(out,
            "kelvor's mask is relative to the group the program starts in: bit n is processor n "
            "of that group. The masks below are for group 0.\n");
    }
    PutMasks(out, layout, classes, kinds);
    Put(out, onClipboard ? "\nThe line for the command builder, also on the clipboard:\n"
                         : "\nThe line for the command builder (not on the clipboard: Ctrl+C "
                           "copies this box's text):\n");
    Put(out, line);
    return EndText(out);
}
