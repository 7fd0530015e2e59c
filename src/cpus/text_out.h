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
void Put(TextOut& out, const char* text);
void PutChar(TextOut& out, char c);
void PutNumber(TextOut& out, uint32_t number);
// "1 core", "2 cores": the number and the noun, plural unless the number is 1.
void PutCount(TextOut& out, uint32_t number, const char* noun);
// Ends the text with its NUL and returns its length.
int EndText(TextOut& out);
