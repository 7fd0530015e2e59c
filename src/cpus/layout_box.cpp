// The box in words a reader needs no terms for: the counts, then one row per set
// of CPUs people pick (all, each kind of core, one thread per core, each
// last-level cache) with the number kelvor takes for it, rows for NUMA nodes and
// groups when there is more than one, and the line.
#include "layout_box.h"

#include "cpu_sets.h"
#include "text_out.h"

namespace {

// The faults' sentences, in LayoutOutcome order from CallRefused: %n is the
// read's value, %s the name of its relation. Entry faults follow the entry's offset.
constexpr const char* kFaultTexts[] = {
    "Windows did not describe the processors (error %n).",
    "Windows' description of the processors needs %n bytes, more than this program holds.",
    "has size 0.",
    "is too short for its kind.",
    "runs past the end.",
    "has a group count that does not fit.",
    "names processors outside the processor groups.",
    "is a cache across processor groups.",
    "it names no processor groups.",
    "it names the processor groups twice.",
    "it names %n processor groups, more than this program holds.",
    "the processors of group %n are not numbered from 0.",
    "it names NUMA node %n twice.",
    "it names no cores.",
    "it names no data cache.",
    "it puts cpu%n in two %ss.",
    "it puts cpu%n in no %s.",
};
constexpr const char* kRelationNames[] = {"core", "NUMA node", "last-level cache", "package"};

void PutFault(TextOut& out, const LayoutRead& read) {
    const LayoutOutcome outcome = read.outcome;
    if (outcome >= LayoutOutcome::EntrySizeZero) {
        Format(out, "Windows' description of the processors cannot be read: ");
    }
    if (outcome >= LayoutOutcome::EntrySizeZero && outcome <= LayoutOutcome::CacheAcrossGroups) {
        Format(out, "the entry at byte %n ", read.value);
    }
    Format(out,
           kFaultTexts[static_cast<int>(outcome) - static_cast<int>(LayoutOutcome::CallRefused)],
           read.value, kRelationNames[read.relation]);
}

void PutSummary(TextOut& out, const CpuLayout& layout) {
    Format(out, "This computer has %n CPU%p (logical processors)", layout.cpuCount);
    if (layout.count[Core] > 0) {
        Format(out, " on %n core%p", layout.count[Core]);
    }
    Format(out, ", in ");
    if (layout.count[Package] > 1) {
        Format(out, "%n packages (sockets) and ", layout.count[Package]);
    }
    Format(out, "%n processor group%p.\n", layout.count[Group]);
}

// Ends a row: its CPUs and, for a pick, the number kelvor takes for them when it
// can name any of them.
void EndRow(TextOut& out, const CpuLayout& layout, const CpuSet& cpus, bool pick) {
    const uint32_t mask = KelvorMask(layout, cpus);
    Format(out, pick && mask != 0 ? ": %c = %n\n" : ": %c\n", &cpus, mask);
}

// A row per owner of `relation`, when there is more than one: `label` given the
// owner's number, value and the cache level.
void PutRows(TextOut& out, const CpuLayout& layout, Relation relation, const char* label) {
    for (int owner = 0; layout.count[relation] > 1 && owner < layout.count[relation]; ++owner) {
        Format(out, label, owner, layout.value[relation][owner], layout.cacheLevel);
        EndRow(out, layout, OwnedBy(layout, relation, owner), relation == Cache);
    }
}

// Kinds of core, from the fastest: P-cores, E-cores, or with more than two kinds
// E-cores (class N); with their cores, and threads per core when all have as many.
void PutKinds(TextOut& out, const CpuLayout& layout) {
    for (int kind = 0; layout.count[Kind] > 1 && kind < layout.count[Kind]; ++kind) {
        uint32_t cores = 0;
        uint32_t threads = 0;
        for (int core = 0; core < layout.count[Core]; ++core) {
            if (layout.value[Core][core] == layout.value[Kind][kind]) {
                uint32_t count = 0;
                for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
                    count += layout.owner[Core][cpu] == core;
                }
                threads = cores == 0 || threads == count ? count : 0;
                ++cores;
            }
        }
        Format(out, kind == 0 ? "  P-cores" : "  E-cores");
        if (kind > 0 && layout.count[Kind] > 2) {
            Format(out, " (class %n)", layout.value[Kind][kind]);
        }
        Format(out, threads > 0 ? ", %n core%p of %n thread%p" : ", %n core%p", cores, threads);
        EndRow(out, layout, OwnedBy(layout, Kind, kind), true);
    }
}

void PutLayout(TextOut& out, const CpuLayout& layout) {
    PutSummary(out, layout);
    Format(out, "\nCPUs, and the <affinity> number kelvor takes for them:\n  all CPUs");
    // A core's first CPU is the one that brings the count of cores up: cores are
    // numbered by their lowest CPU.
    CpuSet all{};
    CpuSet firstThreads{};
    int cores = 0;
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        all.words[cpu / 32] |= 1u << (cpu % 32);
        if (layout.owner[Core][cpu] == cores) {
            firstThreads.words[cpu / 32] |= 1u << (cpu % 32);
            ++cores;
        }
    }
    EndRow(out, layout, all, true);
    PutKinds(out, layout);
    if (layout.count[Core] < layout.cpuCount) {
        Format(out, "  one thread per core");
        EndRow(out, layout, firstThreads, true);
    }
    PutRows(out, layout, Cache, "  %_%k L%n cache");
    PutRows(out, layout, Node, "  NUMA node %_%n");
    PutRows(out, layout, Group, "  processor group %n");
    if (layout.count[Group] > 1) {
        Format(out,
               "kelvor's mask is relative to the group the program starts in: bit n is processor "
               "n of that group. These numbers are for group 0.\n");
    }
    if (layout.value[Group][0] == 32) {
        Format(out, "kelvor cannot name cpu31: bit 31 would make the number negative.\n");
    }
}

}  // namespace

int ComposeLayoutBox(const CpuLayout& layout, const LayoutRead& read, const char* line,
                     bool onClipboard, char* text, int capacity) {
    TextOut out = StartText(text, capacity);
    if (read.outcome == LayoutOutcome::GroupsFolded) {
        PutSummary(out, layout);
        for (int group = 0; group < layout.count[Group]; ++group) {
            Format(out, "  processor group %n: %n CPU%p\n", group, layout.value[Group][group]);
        }
        Format(out,
               "A 32-bit program sees a group of more than 32 CPUs folded onto its first 32, so "
               "the layout cannot be read and there is no line for the command builder.");
    } else if (read.outcome != LayoutOutcome::Read) {
        PutFault(out, read);
    } else {
        PutLayout(out, layout);
        Format(out,
               onClipboard ? "\nThe line for the command builder, also on the clipboard:\n%s"
                           : "\nThe line for the command builder (not on the clipboard: Ctrl+C "
                             "copies this box's text):\n%s",
               line);
    }
    return EndText(out);
}
