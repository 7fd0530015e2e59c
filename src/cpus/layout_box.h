// The text of kelvor-cpus's one box: the layout in words, kelvor's masks for the
// usual picks and the line; or, when there is no line, why.
#pragma once

#include <cstdint>

#include "../launcher/version.h"
#include "cpu_layout.h"

// Bytes, NUL included: the longest line and a row per CPU for each of caches,
// nodes and kinds fit with room to spare.
constexpr int kBoxCapacity = 4 * 65536;
constexpr char kBoxCaption[] = "KELVOR-CPUS v" KELVOR_VERSION_TEXT;
constexpr uint32_t kBoxStyle = 0x40;  // MB_ICONINFORMATION, one OK button
// The bytes kelvor-cpus holds for Windows' answer; AnswerTooLarge names the need.
constexpr uint32_t kAnswerCapacity = 256 * 1024;

// Writes the box for `read`. On Read `line` is the layout line and `onClipboard`
// says whether it got there; otherwise both are ignored. Returns the length.
int ComposeLayoutBox(const CpuLayout& layout, const LayoutRead& read, const char* line,
                     bool onClipboard, char* text, int capacity);
