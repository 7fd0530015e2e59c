#include "argument_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The name and argument text of each row of the launch runs.
struct Cut {
    const char* name;  // null: no command line at all
    const char* argumentText;
};

const Cut kCuts[] = {
#define KELVOR_REFUSES(group, name, argumentText, ...) {name, argumentText},
#define KELVOR_LAUNCHES(group, name, argumentText, ...) {name, argumentText},
#include "data/launch_runs.def"
#undef KELVOR_REFUSES
#undef KELVOR_LAUNCHES
};

TEST(ArgumentText, CutsTheProgramNameByByteRules) {
    for (const Cut& cut : kCuts) {
        if (cut.name == nullptr) {
            EXPECT_EQ(CutArgumentText(nullptr), nullptr);
            continue;
        }
        std::string commandLine = std::string(cut.name) + cut.argumentText;
        char* text = CutArgumentText(commandLine.data());
        EXPECT_STREQ(text, cut.argumentText) << "command line: " << commandLine;
        // The argument text is the command line's own tail, never a copy.
        EXPECT_EQ(text + std::char_traits<char>::length(text),
                  commandLine.data() + commandLine.size());
    }
}

}  // namespace
