#include "messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_platform.h"

namespace {

using test_platform::Function;

const std::string kUsage =
    "USAGE:\tkelvor.exe <affinity> <priority> <delay> <cmdl>\n\n"
    "Where:\taffinity:\tA (decimal) mask specifying which CPUs to use\n"
    "      \tpriority:\tProcess priority from 1 to 6 (1=idle, 6=realtime)\n"
    "      \tdelay:   \tDelay in ms before setting the affinity and priority\n"
    "      \tcmdl:     \tThe command line of the target program ";

const std::string kLaunchFailedHead = "Error:\n\nCreateProcess() failed, trying to run:\n\"";

struct Box {
    MessageKind kind;
    const char* detail;
    std::string text;
    bool usageFollows;
};

const Box kBoxes[] = {
    {Usage, nullptr, kUsage, false},
    {NoSystemMask, nullptr,
     "Warning:\n\nUnable to obtain system affinity mask, no checking\n"
     "of the user-specified affinity mask will occur",
     false},
    {BadAffinity, nullptr,
     "Error:\n\nThe specified affinity mask does not include any available CPUs:\n"
     "    1 = cpu0       \t4 = cpu2       \t7 = cpu0, cpu1, cpu2\n"
     "    2 = cpu1       \t5 = cpu0, cpu2 \t8 = cpu3\n"
     "    3 = cpu0, cpu1 \t6 = cpu1, cpu2 \tetc.",
     true},
    {BadPriority, nullptr,
     "Error:\n\nYou must specify a priority between 1 and 6:\n"
     "    1 = Idle/Low         \t4 = Above Normal\n"
     "    2 = Below Normal     \t5 = High\n"
     "    3 = Normal           \t6 = Realtime (Dangerous!)\n",
     true},
    {BadDelay, nullptr,
     "Error:\n\nYou must specify a delay between 0 and\n60,000 (0 = none, 60,000 = one minute)",
     true},
    {LaunchFailed, "notepad x.txt", kLaunchFailedHead + "notepad x.txt\"", true},
    {LaunchFailed, "", kLaunchFailedHead + "\"", true},
    {LaunchFailed, nullptr, kLaunchFailedHead + "\"", true},
    // Details are shown unchanged, quotes and all.
    {LaunchFailed, "\"C:\\My Tools\\app.exe\" /x\t\xE9",
     kLaunchFailedHead + "\"C:\\My Tools\\app.exe\" /x\t\xE9\"", true},
    // A kind outside 0..5 shows the usage text alone, and ignores any detail.
    {static_cast<MessageKind>(7), "x", kUsage, false},
    {static_cast<MessageKind>(-1), nullptr, kUsage, false},
    {static_cast<MessageKind>(INT32_MIN), nullptr, kUsage, false},
    {NoSystemMask, "ignored",
     "Warning:\n\nUnable to obtain system affinity mask, no checking\n"
     "of the user-specified affinity mask will occur",
     false},
};

TEST(Messages, EachKindShowsItsTextThenUsageAfterAnError) {
    for (const Box& box : kBoxes) {
        SCOPED_TRACE(static_cast<int>(box.kind));
        test_platform::Reset();
        ShowMessage(box.kind, box.detail);

        std::vector<std::string> expected{box.text};
        if (box.usageFollows) {
            expected.push_back(kUsage);
        }
        EXPECT_EQ(test_platform::BoxTexts(), expected);
        for (const test_platform::Call& call : test_platform::Calls()) {
            ASSERT_EQ(call.function, Function::MessageBoxA);
            EXPECT_EQ(call.process, nullptr);
            EXPECT_EQ(call.caption, "KELVOR v4.443");
            EXPECT_EQ(call.value, 0x40000u);
        }
    }
}

TEST(Messages, UsageTextIs313Characters) {
    char text[kMessageCapacity];
    EXPECT_EQ(ComposeMessage(Usage, nullptr, text), 313);
    EXPECT_EQ(std::string(text).size(), 313u);
}

// A failed launch shows 49 characters of its own; a command line too long for
// the rest of the 4095 is cut so the closing quote still ends the text.
TEST(Messages, LongLaunchDetailIsCutToFit) {
    struct Case {
        size_t detailLength;
        size_t shownDetail;
    };
    const Case kCases[] = {{4045, 4045}, {4046, 4046}, {4047, 4046}, {5000, 4046}, {40000, 4046}};
    for (const Case& c : kCases) {
        const std::string detail(c.detailLength, 'x');
        char text[kMessageCapacity];
        std::memset(text, '#', sizeof(text));
        const int length = ComposeMessage(LaunchFailed, detail.c_str(), text);

        const std::string expected = kLaunchFailedHead + detail.substr(0, c.shownDetail) + "\"";
        EXPECT_EQ(length, static_cast<int>(expected.size()));
        EXPECT_EQ(std::string(text), expected);
        EXPECT_LE(length, kMessageCapacity - 1);
    }
}

}  // namespace
