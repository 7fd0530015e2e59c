// The layout line of docs/CPU-LAYOUT.md, which the command builder reads.
#pragma once

#include "cpu_layout.h"

// The longest line the format allows, and a buffer that holds it with its NUL.
constexpr int kLineCapacity = 65536 + 1;

// Writes the line of a layout read whole into `line` and returns its length, or
// -1 when it would not fit in `capacity` (never for a CpuLayout's limits).
int ComposeLayoutLine(const CpuLayout& layout, char* line, int capacity);
