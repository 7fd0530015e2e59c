// Reads the decimal number at the front of a piece of argument text.
#pragma once

#include <cstdint>

// A read's result: the field value and the position just behind the number
// (the starting position when there was no number).
struct NumberRead {
    int32_t value;
    const char* end;
};

// What scanning found, before evaluation. Scanning alone decides where a number
// ends; evaluation alone decides what it is worth.
enum class NumberForm : uint8_t { None, Finite, Infinity, NotANumber };

struct ScannedNumber {
    NumberForm form;
    bool negative;
    uint64_t accumulator;       // the first 19 significant digits, exactly
    int32_t significantDigits;  // every significant digit, those past the 19th too
    int32_t pointPosition;      // digits in front of the decimal point
    int32_t exponent;           // with its sign; meaningless once exponentOverflow is set
    bool exponentOverflow;      // the exponent went past 4932 in magnitude
    const char* end;
};

// Longest run of characters one number may take, the one ending it included.
constexpr int32_t kNumberBound = 32767;

// What an absurd field (infinite, NaN, or beyond the 64-bit range) reads as:
// every field rejects it, so the user is told instead of getting a silent 0.
constexpr int32_t kUnrepresentable = INT32_MIN;

ScannedNumber ScanNumber(const char* cursor);
int32_t EvaluateNumber(const ScannedNumber& number);
NumberRead ReadNumber(const char* cursor);
