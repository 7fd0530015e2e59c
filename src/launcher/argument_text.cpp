// Finds where the program's name ends on the raw command line, by byte rules
// alone, so the argument text is the untouched tail of that line.
#include "argument_text.h"

namespace {

// Only space and TAB separate the program's name from its arguments.
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char* SkipBlanks(char* p) {
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

}  // namespace

// The name is dropped by byte rules alone: nothing is unquoted or unescaped, and
// the name is never compared with the executable's path.
char* CutArgumentText(char* commandLine) {
    if (commandLine == nullptr) {
        return nullptr;
    }
    char* p = SkipBlanks(commandLine);
    if (*p == '"') {
        // A quoted name ends at the closing quote, or at a TAB even inside the quotes.
        ++p;
        while (*p != '\0' && *p != '"' && *p != '\t') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && !IsBlank(*p)) {
            ++p;
        }
    }
    return SkipBlanks(p);
}
