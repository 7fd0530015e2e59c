// Fuzzes kelvor-cpus's reader and composers with any answer from Windows: the
// input is the answer, in a heap block of exactly its length, so reading one byte
// past it is an AddressSanitizer report. Checks what the line and box promise.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "layout_box.h"
#include "layout_line.h"
#include "layout_reader.h"
#include "line_check.h"

namespace {

CpuLayout layout;
char line[kLineCapacity];
char box[kBoxCapacity];

// Each CPU has one owner of each relation (a last-level cache only maybe), named
// as CpuLayout says: a core, cache or package by its lowest CPU, which it holds.
void CheckOwners() {
    for (int cpu = 0; cpu < layout.cpuCount; ++cpu) {
        for (Relation relation : {Core, Cache, Package}) {
            const int32_t owner = layout.owner[relation][cpu];
            if (relation == Cache && owner == kNoOwner) {
                continue;
            }
            FUZZ_CHECK(owner <= cpu && layout.owner[relation][owner] == owner);
        }
        FUZZ_CHECK(layout.owner[Node][cpu] < kMaxCpus);
        FUZZ_CHECK(layout.owner[Group][cpu] < layout.groupCount);
        // A core's CPUs are of one kind.
        FUZZ_CHECK(layout.owner[Kind][cpu] == layout.owner[Kind][layout.owner[Core][cpu]]);
        FUZZ_CHECK(layout.owner[Kind][cpu] <= 255);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> answer(data, data + size);
    answer.shrink_to_fit();
    const LayoutRead read = ReadLayout(answer.data(), static_cast<uint32_t>(size), layout);
    FUZZ_CHECK(read.outcome <= LayoutOutcome::Unreadable);

    bool hasLine = false;
    if (read.outcome == LayoutOutcome::Read) {
        FUZZ_CHECK(layout.cpuCount > 0 && layout.cpuCount <= kMaxCpus);
        CheckOwners();
        const int length = ComposeLayoutLine(layout, line, kLineCapacity);
        FUZZ_CHECK(length > 0 && static_cast<size_t>(length) == std::strlen(line));
        // Printable ASCII without spaces, the name first and the check last.
        for (int i = 0; i < length; ++i) {
            FUZZ_CHECK(line[i] > ' ' && line[i] < 127);
        }
        FUZZ_CHECK(std::strncmp(line, "kelvor-cpus-1;g=", 16) == 0);
        const char* check = std::strstr(line, ";x=");
        FUZZ_CHECK(check != nullptr && Checked(std::string(line, check - line)) == line);
        hasLine = true;
    }

    const int boxLength = ComposeLayoutBox(layout, read, line, true, box, kBoxCapacity);
    FUZZ_CHECK(boxLength > 0 && boxLength < kBoxCapacity);
    FUZZ_CHECK(static_cast<size_t>(boxLength) == std::strlen(box));
    // The line, when there is one, ends the box; otherwise no line is in it.
    const char* inBox = std::strstr(box, "kelvor-cpus-1;");
    FUZZ_CHECK(hasLine ? inBox != nullptr && std::strcmp(inBox, line) == 0 : inBox == nullptr);
    for (int i = 0; i < boxLength; ++i) {
        FUZZ_CHECK((box[i] >= ' ' && box[i] < 127) || box[i] == '\n');
    }
    return 0;
}
