// readnum: one text per input line, written with the escapes of escaped_text.h.
// For each line it prints "<value> <end>": the field value the reader gives and
// the end position as a byte offset into the decoded text.
#include <cstdio>
#include <iostream>
#include <string>

#include "escaped_text.h"
#include "number_reader.h"

int main() {
    std::string line;
    int lineNumber = 0;
    int status = 0;
    while (std::getline(std::cin, line)) {
        ++lineNumber;
        const auto text = Unescape(line);
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
