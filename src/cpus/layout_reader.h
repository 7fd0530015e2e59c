// Reads the buffer GetLogicalProcessorInformationEx(RelationAll) filled, in the
// 32-bit layouts of processor_answer.h, into a CpuLayout.
#pragma once

#include <cstdint>

#include "cpu_layout.h"

// Reads `length` bytes of `answer` and never more. Unknown relationship kinds are
// skipped; entries whose masks name no processor are too. On Read, `layout` is
// whole and every CPU is in exactly one core, NUMA node and package and in at
// most one last-level cache; on GroupsFolded only its groups are filled.
LayoutRead ReadLayout(const uint8_t* answer, uint32_t length, CpuLayout& layout);
