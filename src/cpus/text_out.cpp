#include "text_out.h"

#include <cstdarg>

#include "cpu_sets.h"

namespace {

// The higher digits first, by recursion: at most ten deep.
void PutNumber(TextOut& out, uint32_t number) {
    if (number >= 10) {
        PutNumber(out, number / 10);
    }
    PutChar(out, static_cast<char>('0' + number % 10));
}

// Ascending ranges of the set, each after `first` or then `joiner`.
void PutRanges(TextOut& out, const CpuSet& set, const char* first, const char* joiner) {
    for (int cpu = 0; cpu < kMaxCpus; ++cpu) {
        if (!HasCpu(set, cpu)) {
            continue;
        }
        int last = cpu;
        while (last + 1 < kMaxCpus && HasCpu(set, last + 1)) {
            ++last;
        }
        Format(out, last > cpu ? "%s%n-%n" : "%s%n", first, cpu, last);
        first = joiner;
        cpu = last;  // the next range starts after a CPU not in the set
    }
}

}  // namespace

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

namespace {

// Format over `arguments`, which a text given to %s reads on from.
void FormatList(TextOut& out, const char* format, va_list* arguments) {
    uint32_t number = 0;
    for (const char* at = format; *at != '\0'; ++at) {
        if (*at != '%') {
            PutChar(out, *at);
            continue;
        }
        // One test per directive: a switch would cost a jump table in the exe.
        const char directive = *++at;
        if (directive == 'n') {
            number = va_arg(*arguments, uint32_t);
            PutNumber(out, number);
        } else if (directive == '_') {
            va_arg(*arguments, uint32_t);
        } else if (directive == 'p') {
            if (number != 1) {
                PutChar(out, 's');
            }
        } else if (directive == 's') {
            FormatList(out, va_arg(*arguments, const char*), arguments);
        } else {
            const CpuSet& cpus = *va_arg(*arguments, const CpuSet*);
            PutRanges(out, cpus, directive == 'c' ? "cpu" : "", directive == 'c' ? ", cpu" : "+");
        }
    }
}

}  // namespace

void Format(TextOut& out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatList(out, format, &arguments);
    va_end(arguments);
}

int EndText(TextOut& out) {
    *out.at = '\0';
    return static_cast<int>(out.at - out.start);
}
