// kelvor-cpus's whole run against the recording test platform: Windows' answer
// for each machine of the table, built to the documented layouts, and the
// clipboard and box it leads to, byte for byte.
#include "cpus_sequence.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cpu_answer.h"
#include "facts.h"
#include "line_check.h"
#include "test_cpus_platform.h"

namespace {

using namespace cpu_answer;
using test_cpus_platform::Function;

uint32_t Bits(int first, int last) {
    return static_cast<uint32_t>((2ull << last) - (1ull << first));
}

// 8 P-cores of two threads (class 1), then 16 E-cores (class 0) in clusters of
// four sharing an L2; one 36 MB L3. Windows lists the group last.
Bytes HybridWithSmt() {
    Bytes out;
    for (int core = 0; core < 8; ++core) {
        Core(out, 1, 0, Bits(2 * core, 2 * core + 1));
        Cache(out, 1, 48, 0, Bits(2 * core, 2 * core + 1), 2);
        Cache(out, 1, 32, 0, Bits(2 * core, 2 * core + 1), 1);
        Cache(out, 2, 1280, 0, Bits(2 * core, 2 * core + 1));
    }
    for (int core = 16; core < 32; ++core) {
        Core(out, 0, 0, 1u << core);
    }
    for (int cluster = 16; cluster < 32; cluster += 4) {
        Cache(out, 2, 2048, 0, Bits(cluster, cluster + 3));
    }
    Cache(out, 3, 36 * 1024, 0, 0xFFFFFFFF);
    Node(out, 0, {{0, 0xFFFFFFFF}});
    Package(out, {{0, 0xFFFFFFFF}});
    Groups(out, {32});
    return out;
}

// 8 P-cores and 16 E-cores, one thread each, the E-core clusters numbered between
// P-cores: P cpu0-3, E cpu4-7, P cpu8-11, E cpu12-23. Windows lists P-cores first;
// an L3 level of data cache only, from an older Windows with GroupCount 0.
Bytes HybridClustersBetween() {
    Bytes out;
    Groups(out, {24});
    for (int cpu : {0, 1, 2, 3, 8, 9, 10, 11}) {
        Core(out, 1, 0, 1u << cpu);
    }
    for (int cpu : {4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}) {
        Core(out, 0, 0, 1u << cpu);
    }
    Cache(out, 3, 30 * 1024, 0, Bits(0, 23), 2, 0);
    Node(out, 0, {{0, Bits(0, 23)}}, 0);
    Package(out, {{0, Bits(0, 23)}});
    return out;
}

// 16 cores of two threads, one class; cpu0-15 share a 96 MB L3, cpu16-31 a 32 MB one.
Bytes TwoCaches() {
    Bytes out;
    Groups(out, {32});
    for (int core = 0; core < 16; ++core) {
        Core(out, 0, 0, Bits(2 * core, 2 * core + 1));
        Cache(out, 2, 1024, 0, Bits(2 * core, 2 * core + 1));
    }
    Cache(out, 3, 32 * 1024, 0, Bits(16, 31));
    Cache(out, 3, 96 * 1024, 0, Bits(0, 15));
    Node(out, 0, {{0, 0xFFFFFFFF}});
    Package(out, {{0, 0xFFFFFFFF}});
    return out;
}

// 4 cores of one thread, with L2 of 512 KB each as their last level; `extra`
// goes before the group entry.
Bytes FourCores(const Bytes& extra = {}) {
    Bytes out;
    for (int core = 0; core < 4; ++core) {
        Core(out, 0, 0, 1u << core);
        Cache(out, 2, 512, 0, 1u << core);
    }
    Node(out, 0, {{0, 0xF}});
    Package(out, {{0, 0xF}});
    out.insert(out.end(), extra.begin(), extra.end());
    Groups(out, {4});
    return out;
}

// Two groups of 40 processors: their masks are folded, so only the groups count.
Bytes TwoFoldedGroups() {
    Bytes out;
    Groups(out, {40, 40});
    for (int group = 0; group < 2; ++group) {
        for (int core = 0; core < 40; ++core) {
            Core(out, 0, static_cast<uint16_t>(group), 1u << (core % 32));
        }
    }
    return out;
}

// Two sockets of 10 cores with two threads, each its own group, NUMA node and
// L3; Windows numbers the second node 1 and lists it first.
Bytes TwoGroups() {
    Bytes out;
    Groups(out, {20, 20});
    Node(out, 1, {{1, Bits(0, 19)}});
    Node(out, 0, {{0, Bits(0, 19)}});
    for (uint16_t group = 0; group < 2; ++group) {
        for (int core = 0; core < 10; ++core) {
            Core(out, 0, group, Bits(2 * core, 2 * core + 1));
        }
        Cache(out, 3, 25 * 1024, group, Bits(0, 19));
        Package(out, {{group, Bits(0, 19)}});
    }
    return out;
}

Bytes Damaged(size_t at, uint32_t size) {
    Bytes out = FourCores();
    for (int i = 0; i < 4; ++i) {
        out[at + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    return out;
}

Bytes UnknownKind() {
    Bytes extra;
    Entry(extra, 7, Bytes(16, 0xAB));  // RelationProcessorModule, not read
    Entry(extra, 0x1234, Bytes(4, 0));
    return FourCores(extra);
}

// FourCores with one more core entry, of the CPUs in `bits`.
Bytes FourCoresAndCore(uint32_t bits) {
    Bytes extra;
    Core(extra, 0, 0, bits);
    return FourCores(extra);
}

// NUMA nodes numbered past any CPU: refused when it holds processors (the node
// entry at byte 96), read when it holds none.
Bytes HighNode(uint32_t bits) {
    Bytes out;
    Core(out, 0, 0, 1);
    Cache(out, 2, 512, 0, 1);
    Node(out, 4096, {{0, bits}});
    Node(out, 0, {{0, 1 - bits}});
    Package(out, {{0, 1}});
    Groups(out, {1});
    return out;
}

// A group of one processor and nothing else: the CPU is in no core, which the
// answer (76 bytes) never says.
Bytes OnlyAGroup() {
    Bytes out;
    Groups(out, {1});
    return out;
}

struct Machine {
    const char* name;
    Bytes answer;
    const char* line;    // without its check; null: no line
    std::string box;     // "@" stands for the checked line
    uint32_t error = 0;  // not 0: Windows refuses the call
    bool clipboardTakesText = true;
};

const std::string kRows = "\nCPUs, and the <affinity> number kelvor takes for them:\n";
const std::string kOnClipboard = "\nThe line for the command builder, also on the clipboard:\n@";
const char* const kFourCoresLine =
    "kelvor-cpus-1;g=4;c=0:0,0:1,0:2,0:3;l=2:512:0,2:512:1,2:512:2,2:512:3;n=0-3;p=0-3";
// FourCores()'s box up to the words about the clipboard.
const std::string kFourCoresBox =
    "This computer has 4 CPUs (logical processors) on 4 cores, in 1 processor group.\n" + kRows +
    "  all CPUs: cpu0-3 = 15\n"
    "  512 KB L2 cache: cpu0 = 1\n"
    "  512 KB L2 cache: cpu1 = 2\n"
    "  512 KB L2 cache: cpu2 = 4\n"
    "  512 KB L2 cache: cpu3 = 8\n";

const Machine kMachines[] = {
    {"8 P-cores with two threads and 16 E-cores", HybridWithSmt(),
     "kelvor-cpus-1;g=32;c=1:0-1,1:2-3,1:4-5,1:6-7,1:8-9,1:10-11,1:12-13,1:14-15,0:16,0:17,0:18,0:"
     "19,0:20,0:21,0:22,0:23,0:24,0:25,0:26,0:27,0:28,0:29,0:30,0:31;l=3:36864:0-31;n=0-31;p=0-31",
     "This computer has 32 CPUs (logical processors) on 24 cores, in 1 processor group.\n" + kRows +
         "  all CPUs: cpu0-31 = 2147483647\n"
         "  P-cores, 8 cores of 2 threads: cpu0-15 = 65535\n"
         "  E-cores, 16 cores of 1 thread: cpu16-31 = 2147418112\n"
         "  one thread per core: cpu0, cpu2, cpu4, cpu6, cpu8, cpu10, cpu12, cpu14, cpu16-31 = "
         "2147439957\n"
         "kelvor cannot name cpu31: bit 31 would make the number negative.\n" +
         kOnClipboard},
    {"8 P-cores and 16 E-cores without SMT, E-core clusters between P-cores",
     HybridClustersBetween(),
     "kelvor-cpus-1;g=24;c=1:0,1:1,1:2,1:3,0:4,0:5,0:6,0:7,1:8,1:9,1:10,1:11,0:12,0:13,0:14,0:15,0:"
     "16,0:17,0:18,0:19,0:20,0:21,0:22,0:23;l=3:30720:0-23;n=0-23;p=0-23",
     "This computer has 24 CPUs (logical processors) on 24 cores, in 1 processor group.\n" + kRows +
         "  all CPUs: cpu0-23 = 16777215\n"
         "  P-cores, 8 cores of 1 thread: cpu0-3, cpu8-11 = 3855\n"
         "  E-cores, 16 cores of 1 thread: cpu4-7, cpu12-23 = 16773360\n" +
         kOnClipboard},
    {"16 cores with two threads and two last-level caches", TwoCaches(),
     "kelvor-cpus-1;g=32;c=0:0-1,0:2-3,0:4-5,0:6-7,0:8-9,0:10-11,0:12-13,0:14-15,0:16-17,0:18-19,0:"
     "20-21,0:22-23,0:24-25,0:26-27,0:28-29,0:30-31;l=3:98304:0-15,3:32768:16-31;n=0-31;p=0-31",
     "This computer has 32 CPUs (logical processors) on 16 cores, in 1 processor group.\n" + kRows +
         "  all CPUs: cpu0-31 = 2147483647\n"
         "  one thread per core: cpu0, cpu2, cpu4, cpu6, cpu8, cpu10, cpu12, cpu14, cpu16, cpu18, "
         "cpu20, cpu22, cpu24, cpu26, cpu28, cpu30 = 1431655765\n"
         "  96 MB L3 cache: cpu0-15 = 65535\n"
         "  32 MB L3 cache: cpu16-31 = 2147418112\n"
         "kelvor cannot name cpu31: bit 31 would make the number negative.\n" +
         kOnClipboard},
    {"4 cores", FourCores(), kFourCoresLine, kFourCoresBox + kOnClipboard},
    {"2 groups of 40: folded", TwoFoldedGroups(), nullptr,
     "This computer has 80 CPUs (logical processors), in 2 processor groups.\n"
     "  processor group 0: 40 CPUs\n"
     "  processor group 1: 40 CPUs\n"
     "A 32-bit program sees groups of over 32 CPUs folded: no line."},
    {"2 groups of 20", TwoGroups(),
     "kelvor-cpus-1;g=20,20;c=0:0-1,0:2-3,0:4-5,0:6-7,0:8-9,0:10-11,0:12-13,0:14-15,0:16-17,0:18-"
     "19,0:20-21,0:22-23,0:24-25,0:26-27,0:28-29,0:30-31,0:32-33,0:34-35,0:36-37,0:38-39;l=3:25600:"
     "0-19,3:25600:20-39;n=0-19,20-39;p=0-19,20-39",
     "This computer has 40 CPUs (logical processors) on 20 cores, in 2 packages (sockets) and 2 "
     "processor groups.\n" +
         kRows +
         "  all CPUs: cpu0-39 = 1048575\n"
         "  one thread per core: cpu0, cpu2, cpu4, cpu6, cpu8, cpu10, cpu12, cpu14, cpu16, cpu18, "
         "cpu20, cpu22, cpu24, cpu26, cpu28, cpu30, cpu32, cpu34, cpu36, cpu38 = 349525\n"
         "  25 MB L3 cache: cpu0-19 = 1048575\n"
         "  25 MB L3 cache: cpu20-39\n"
         "  NUMA node 0: cpu0-19\n"
         "  NUMA node 1: cpu20-39\n"
         "  processor group 0: cpu0-19\n"
         "  processor group 1: cpu20-39\n"
         "Numbers are for group 0; kelvor's bit n is processor n of the group the program starts "
         "in.\n" +
         kOnClipboard},
    {"an entry with size 0", Damaged(44, 0), nullptr,
     "Windows' list of processors cannot be read at byte 44."},
    {"an entry running past the end", Damaged(44, 4000), nullptr,
     "Windows' list of processors cannot be read at byte 44."},
    {"unknown relationship kinds are skipped", UnknownKind(), kFourCoresLine,
     kFourCoresBox + kOnClipboard},
    {"Windows refuses the call",
     {},
     nullptr,
     "Windows' list of processors is not available (error 87).",
     87},
    {"Windows' answer is larger than the buffer", Bytes(256 * 1024 + 4), nullptr,
     "Windows' list of processors is too long (262148 bytes)."},
    {"a CPU in two cores", FourCoresAndCore(0x6), nullptr,
     "Windows' list of processors cannot be read at byte 472."},
    {"a NUMA node with CPUs numbered past them", HighNode(1), nullptr,
     "Windows' list of processors cannot be read at byte 96."},
    {"a NUMA node without CPUs numbered past them", HighNode(0),
     "kelvor-cpus-1;g=1;c=0:0;l=2:512:0;n=0;p=0",
     "This computer has 1 CPU (logical processors) on 1 core, in 1 processor group.\n" + kRows +
         "  all CPUs: cpu0 = 1\n" + kOnClipboard},
    {"a CPU in no core", OnlyAGroup(), nullptr,
     "Windows' list of processors cannot be read at byte 76."},
    {"a mask outside the groups", FourCoresAndCore(0x10), nullptr,
     "Windows' list of processors cannot be read at byte 472."},
    {"the clipboard refuses", FourCores(), kFourCoresLine,
     kFourCoresBox +
         "\nThe line for the command builder (not on the clipboard; Ctrl+C copies this box):\n@",
     0, false},
};

TEST(CpusSequence, ShowsEachMachineAsTheTableSays) {
    for (const Machine& run : kMachines) {
        SCOPED_TRACE(run.name);
        test_cpus_platform::Reset({run.answer, run.error, run.clipboardTakesText});

        EXPECT_EQ(CpusMain(), 0);

        const std::vector<test_cpus_platform::Call>& calls = test_cpus_platform::Calls();
        ASSERT_EQ(calls.size(), run.line != nullptr ? 3u : 2u);
        EXPECT_EQ(calls[0].function, Function::GetProcessorAnswer);
        EXPECT_EQ(calls[0].capacity, 256u * 1024) << "the bytes offered to Windows";
        std::string box = run.box;
        if (run.line != nullptr) {
            const std::string line = Checked(run.line);
            box.replace(box.find('@'), 1, line);
            EXPECT_EQ(calls[1].function, Function::PutTextOnClipboard);
            EXPECT_EQ(calls[1].text, line);
        }
        EXPECT_EQ(calls.back().function, Function::ShowBox);
        EXPECT_EQ(calls.back().text, box);
        EXPECT_EQ(calls.back().caption, std::string("KELVOR-CPUS v") + facts::release);
        EXPECT_EQ(calls.back().style, 0x40u) << "MB_ICONINFORMATION, one OK button";
    }
}

}  // namespace
