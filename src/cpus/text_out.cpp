#include "text_out.h"

TextOut StartText(char* buffer, int capacity) {
    return {buffer, buffer, buffer + capacity - 1, false};
}

void PutChar(TextOut& out, char c) {
    if (out.at < out.last) {
        *out.at++ = c;
    } else {
        out.full = true;
    }
}

void Put(TextOut& out, const char* text) {
    while (*text != '\0') {
        PutChar(out, *text++);
    }
}

void PutNumber(TextOut& out, uint32_t number) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) {
        PutChar(out, digits[--count]);
    }
}

void PutCount(TextOut& out, uint32_t number, const char* noun) {
    PutNumber(out, number);
    PutChar(out, ' ');
    Put(out, noun);
    if (number != 1) {
        PutChar(out, 's');
    }
}

int EndText(TextOut& out) {
    *out.at = '\0';
    return static_cast<int>(out.at - out.start);
}
