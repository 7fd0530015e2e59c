// readnum: one text per input line, written with escapes (\\ \t \n \v \f \r and
// \xHH for any byte; every other byte stands for itself). For each line it prints
// "<value> <end>": the field value the reader gives and the end position as a
// byte offset into the decoded text. readnum_reference, for the tests, is this
// tool built over the tests' exact reader instead of the product's.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#ifdef KELVOR_READNUM_REFERENCE
#include "exact_reader.h"
using exact_reader::ReadNumber;
#else
#include "number_reader.h"
#endif

namespace {

std::optional<int> HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return std::nullopt;
}

// Decodes one line; returns nothing for a malformed escape.
std::optional<std::string> Decode(std::string_view line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            text += line[i];
            continue;
        }
        if (++i == line.size())
            return std::nullopt;
        switch (line[i]) {
            case '\\':
                text += '\\';
                break;
            case 't':
                text += '\t';
                break;
            case 'n':
                text += '\n';
                break;
            case 'v':
                text += '\v';
                break;
            case 'f':
                text += '\f';
                break;
            case 'r':
                text += '\r';
                break;
            case 'x': {
                if (i + 2 >= line.size())
                    return std::nullopt;
                const auto high = HexDigit(line[i + 1]);
                const auto low = HexDigit(line[i + 2]);
                if (!high || !low)
                    return std::nullopt;
                text += static_cast<char>(*high * 16 + *low);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return text;
}

}  // namespace

int main() {
    std::string line;
    int lineNumber = 0;
    int status = 0;
    while (std::getline(std::cin, line)) {
        ++lineNumber;
        const auto text = Decode(line);
        if (!text) {
            std::fprintf(stderr, "readnum: line %d: malformed escape\n", lineNumber);
            std::printf("error\n");
            status = 1;
            continue;
        }
        // The decoded text keeps its NUL, so an embedded \x00 ends the text as it would in Windows.
        const auto read = ReadNumber(text->c_str());
        std::printf("%d %td\n", read.value, read.end - text->c_str());
    }
    return status;
}
