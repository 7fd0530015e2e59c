#include "argument_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Cut {
    const char* commandLine;
    const char* argumentText;
};

const Cut kCuts[] = {
#define KELVOR_CUT(commandLine, argumentText) {commandLine, argumentText},
#include "data/command_lines.def"
#undef KELVOR_CUT
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
