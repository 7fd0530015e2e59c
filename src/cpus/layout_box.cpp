// The box in words a reader needs no terms for: the counts, then one row per set
// of CPUs people pick (all, each kind of core, one thread per core, each
// last-level cache) with the number kelvor takes for it, rows for NUMA nodes and
// groups when there is more than one, and the line.
#include "layout_box.h"

#include "cpu_sets.h"
#include "text_out.h"

namespace {

// The notes under the rows. In the exe they fill spare bytes at the end of its
// resource section (see cmake/kelvor-cpus.ld), which saves a 512-byte step.
[[gnu::section(".rsrc$notes")]] constexpr char kGroupNote[] =
    "Numbers are for group 0; kelvor's bit n is processor n of the group the program starts in.\n";
[[gnu::section(".rsrc$notes")]] constexpr char kCpu31Note[] =
    "kelvor cannot name cpu31: bit 31 would make the number negative.\n";

// One sentence per fault a reader can act on, in LayoutOutcome order from
// CallRefused, each after the same subject. Every way the answer fails to be read
// shares one, with the entry at fault or the answer's end.
constexpr const char* kFaults[] = {
    "%s is not available (error %n).",
    "%s is too long (%n bytes).",
    "%s cannot be read at byte %n.",
};

void PutFault(TextOut& out, const LayoutRead& read) {
    Format(out,
           kFaults[static_cast<int>(read.outcome) - static_cast<int>(LayoutOutcome::CallRefused)],
           "Windows' list of processors", read.value);
}

void PutSummary(TextOut& out, const CpuLayout& layout) {
    const int packages = OwnerCount(layout, Package);
    Format(out, "This computer has %n CPU%p (logical processors)%s, in %s%n processor group%p.\n",
           layout.cpuCount, layout.owner[Core][0] != kNoOwner ? " on %n core%p" : "%_",
           OwnerCount(layout, Core), packages > 1 ? "%n packages (sockets) and " : "%_", packages,
           layout.groupCount);
}

// Ends a row: its CPUs and, for a pick, the number kelvor takes for them when it
// can name any of them.
void EndRow(TextOut& out, const CpuLayout& layout, const CpuSet& cpus, bool pick) {
    const uint32_t mask = KelvorMask(layout, cpus);
    Format(out, pick && mask != 0 ? ": %c = %n\n" : ": %c\n", &cpus, mask);
}

// A row per owner of `relation`, when there is more than one: `label` given the
// owner's number, the cache's size (a text and its number) and level.
void PutRows(TextOut& out, const CpuLayout& layout, Relation relation, const char* label) {
    const bool several = OwnerCount(layout, relation) > 1;
    for (int owner = 0; several && owner < kMaxCpus; ++owner) {
        CpuSet cpus;
        if (OwnedBy(layout, relation, owner, cpus) > 0) {
            // A cache's size in KiB, or MB when a whole number of them.
            const uint32_t kib = layout.cacheBytes[owner] / 1024;
            Format(out, label, owner, kib % 1024 != 0 ? "%n KB" : "%n MB",
                   kib % 1024 != 0 ? kib : kib / 1024, layout.cacheLevel);
            EndRow(out, layout, cpus, relation == Cache);
        }
    }
}

// Kinds of core, from the fastest: P-cores, E-cores, or with more than two kinds
// E-cores (class N); with their cores, and threads per core when all have as many.
void PutKinds(TextOut& out, const CpuLayout& layout) {
    const int kinds = OwnerCount(layout, Kind);
    int rank = 0;
    for (int kind = 0; kinds > 1 && kind < 256; ++kind) {
        CpuSet cpus;
        if (OwnedBy(layout, Kind, kind, cpus) == 0) {
            continue;
        }
        uint32_t cores = 0;
        uint32_t threads = 0;
        for (int core = 0; core < layout.cpuCount; ++core) {
            CpuSet coreCpus;
            const uint32_t count = static_cast<uint32_t>(OwnedBy(layout, Core, core, coreCpus));
            if (count > 0 && layout.owner[Kind][core] == kind) {
                threads = cores == 0 || threads == count ? count : 0;
                ++cores;
            }
        }
        Format(out, "  %s%s, %n core%p%s", rank == 0 ? "P-cores" : "E-cores",
               rank > 0 && kinds > 2 ? " (class %n)" : "%_", 255 - kind, cores,
               threads > 0 ? " of %n thread%p" : "", threads);
        ++rank;
        EndRow(out, layout, cpus, true);
    }
}

void PutLayout(TextOut& out, const CpuLayout& layout) {
    PutSummary(out, layout);
    Format(out, "\nCPUs, and the <affinity> number kelvor takes for them:\n  all CPUs");
    // A core's first CPU is its owner number.
    CpuSet all{};
    CpuSet firstThreads{};
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        all.words[cpu / 32] |= 1u << (cpu % 32);
        if (layout.owner[Core][cpu] == cpu) {
            firstThreads.words[cpu / 32] |= 1u << (cpu % 32);
        }
    }
    EndRow(out, layout, all, true);
    PutKinds(out, layout);
    if (OwnerCount(layout, Core) < layout.cpuCount) {
        Format(out, "  one thread per core");
        EndRow(out, layout, firstThreads, true);
    }
    PutRows(out, layout, Cache, "  %_%s L%n cache");
    PutRows(out, layout, Node, "  NUMA node %n");
    PutRows(out, layout, Group, "  processor group %n");
    if (layout.groupCount > 1) {
        Format(out, kGroupNote);
    }
    if (layout.groupActive[0] == 32) {
        Format(out, kCpu31Note);
    }
}

}  // namespace

// Not inlined, as ReadLayout.
[[gnu::noinline]] int ComposeLayoutBox(const CpuLayout& layout, const LayoutRead& read,
                                       const char* line, bool onClipboard, char* text,
                                       int capacity) {
    TextOut out = StartText(text, capacity);
    if (read.outcome == LayoutOutcome::GroupsFolded) {
        PutSummary(out, layout);
        for (int group = 0; group < layout.groupCount; ++group) {
            Format(out, "%s: %n CPU%p\n", "  processor group %n", group, layout.groupActive[group]);
        }
        Format(out, "A 32-bit program sees groups of over 32 CPUs folded: no line.");
    } else if (read.outcome != LayoutOutcome::Read) {
        PutFault(out, read);
    } else {
        PutLayout(out, layout);
        // The line holds no %, so it comes through %s as it is.
        Format(out, "\nThe line for the command builder%s:\n%s",
               onClipboard ? ", also on the clipboard"
                           : " (not on the clipboard; Ctrl+C copies this box)",
               line);
    }
    return EndText(out);
}
