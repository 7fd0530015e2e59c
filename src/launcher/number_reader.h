// Reads the decimal number at the front of a piece of argument text.
//
// The model: of the digits, only the first 19 significant ones count; their
// value times the power of ten that the point and the exponent give is rounded
// once to a 64-bit significand, truncated toward zero to a signed 64-bit
// integer, and the low 32 bits of that integer are the field value. A zero
// significand reads as 0 whatever the exponent; otherwise an exponent past
// +-4932 decides alone: positive is absurd, negative reads as 0.
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
    // Where the decimal point stands, counted in significant digits from the
    // first one: 3 for 123.4, 0 for .5, -3 for 0.0001 (zeros after the point
    // but before the first significant digit count below zero).
    int32_t pointPosition;
    // With its sign. Once exponentOverflow is set its magnitude stops growing
    // and only its sign still counts.
    int32_t exponent;
    bool exponentOverflow;  // the exponent went past 4932 in magnitude
    const char* end;
};

// Most characters one number may take after the leading white space: a number
// that reaches it ends there, whatever follows.
constexpr int32_t kNumberBound = 32767;

// What an absurd field (infinite, NaN, or beyond the 64-bit range) reads as:
// every field rejects it, so the user is told instead of getting a silent 0.
constexpr int32_t kUnrepresentable = INT32_MIN;

ScannedNumber ScanNumber(const char* cursor);
int32_t EvaluateNumber(const ScannedNumber& number);
NumberRead ReadNumber(const char* cursor);
