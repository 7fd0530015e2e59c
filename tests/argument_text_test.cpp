#include "argument_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Cut {
    const char* commandLine;
    const char* argumentText;
};

// The program's name is dropped by byte rules alone: only space and TAB are
// blanks, a quoted name ends at the closing quote or a TAB, nothing is unquoted.
const Cut kCuts[] = {
    {"\"C:\\x y\\kelvor.exe\"  1 3 0 notepad", "1 3 0 notepad"},
    {"kelvor.exe 1 3 0 notepad", "1 3 0 notepad"},
    {"  kelvor.exe\t\t1 3 0 notepad", "1 3 0 notepad"},
    {"\"C:\\x y\\kelvor.exe\"1 3 0 notepad", "1 3 0 notepad"},
    {"kelvor 3 4 500 \"C:\\My Tools\\app.exe\" /x", "3 4 500 \"C:\\My Tools\\app.exe\" /x"},
    {"kelvor.exe 1 3 0 notepad   ", "1 3 0 notepad   "},
    {"\"C:\\x y\\kelvor.exe 1 3 0 notepad", ""},
    {"\"C:\\x y\\kelvor.exe\t1 3 0 notepad", "1 3 0 notepad"},
    {"\"C:\\x\ty\\kelvor.exe\" 1 3 0 notepad", "y\\kelvor.exe\" 1 3 0 notepad"},
    {"C:\\x\"y z\"\\kelvor.exe 1 3 0 notepad", "z\"\\kelvor.exe 1 3 0 notepad"},
    {"kelvor.exe \t ", ""},
    {"", ""},
    // Whatever stands first is the name, even the affinity field.
    {"1 3 0 notepad", "3 0 notepad"},
    // Carriage return and line feed are not blanks.
    {"kelvor.exe\r\n1 3 0 x", "3 0 x"},
    {"kelvor.exe \r1", "\r1"},
    {"\"\" 1 2 3 x", "1 2 3 x"},
    {"\"kelvor\"\"1 2 3 x", "\"1 2 3 x"},
};

TEST(ArgumentText, CutsTheProgramNameByByteRules) {
    for (const Cut& cut : kCuts) {
        std::string commandLine = cut.commandLine;
        char* text = CutArgumentText(commandLine.data());
        EXPECT_STREQ(text, cut.argumentText) << "command line: " << cut.commandLine;
        // The argument text is the command line's own tail, never a copy.
        EXPECT_EQ(text + std::char_traits<char>::length(text),
                  commandLine.data() + commandLine.size());
    }
}

TEST(ArgumentText, NoCommandLineGivesNoArgumentText) {
    EXPECT_EQ(CutArgumentText(nullptr), nullptr);
}

}  // namespace
