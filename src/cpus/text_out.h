// Writing text into a caller's buffer that never runs past its end: a write that
// does not fit is cut and marks the text as full.
#pragma once

#include <cstdint>

struct TextOut {
    char* start;
    char* at;
    char* last;  // room for the NUL
    bool full;
};

TextOut StartText(char* buffer, int capacity);
void PutChar(TextOut& out, char c);
// Writes `format`, replacing each directive with the next argument:
//   %n  a number (uint32_t)         %p  "s" unless that number was 1
//   %_  a number, skipped
//   %s  a text, whose own directives take the arguments that follow
//   %c  a CpuSet* for the box: "cpu0-7, cpu16"
//   %l  a CpuSet* for the line: "0-7+16"
void Format(TextOut& out, const char* format, ...);
// Ends the text with its NUL and returns its length.
int EndText(TextOut& out);
