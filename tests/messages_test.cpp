#include "messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "facts.h"
#include "test_platform.h"

namespace {

using test_platform::Function;
using enum MessageKind;

const std::string kUsage = facts::usage;
using facts::LaunchFailedText;

// The box text of kinds 0 to 4, as the facts list them in kind order.
std::string Fact(MessageKind kind) {
    return facts::kBoxTexts[static_cast<int>(kind)];
}

struct Box {
    MessageKind kind;
    const char* detail;
    std::string text;
    bool usageFollows;
};

const Box kBoxes[] = {
    {Usage, nullptr, Fact(Usage), false},
    {NoSystemMask, nullptr, Fact(NoSystemMask), false},
    {BadAffinity, nullptr, Fact(BadAffinity), true},
    {BadPriority, nullptr, Fact(BadPriority), true},
    {BadDelay, nullptr, Fact(BadDelay), true},
    {LaunchFailed, "notepad x.txt", LaunchFailedText("notepad x.txt"), true},
    {LaunchFailed, "", LaunchFailedText(""), true},
    {LaunchFailed, nullptr, LaunchFailedText(""), true},
    // Details are shown unchanged, quotes and all.
    {LaunchFailed, "\"C:\\My Tools\\app.exe\" /x\t\xE9",
     LaunchFailedText("\"C:\\My Tools\\app.exe\" /x\t\xE9"), true},
    // A kind outside 0..5 shows the usage text alone, and ignores any detail.
    {static_cast<MessageKind>(7), "x", kUsage, false},
    {static_cast<MessageKind>(-1), nullptr, kUsage, false},
    {static_cast<MessageKind>(INT32_MIN), nullptr, kUsage, false},
    {NoSystemMask, "ignored", Fact(NoSystemMask), false},
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
            EXPECT_EQ(call.caption, facts::caption);
            EXPECT_EQ(call.value, facts::box_style);
        }
    }
}

// The caption names the release: the two facts cannot drift apart, and the
// launcher's caption is that one.
TEST(Messages, CaptionEndsWithTheReleaseNumber) {
    const std::string caption = facts::caption;
    const std::string release = std::string("v") + facts::release;
    ASSERT_GT(caption.size(), release.size());
    EXPECT_EQ(caption.substr(caption.size() - release.size()), release);
    EXPECT_EQ(std::string(kMessageCaption), caption);
}

TEST(Messages, UsageTextIs313Characters) {
    char text[kMessageCapacity];
    EXPECT_EQ(ComposeMessage(Usage, nullptr, text), 313);
    EXPECT_EQ(std::string(text).size(), 313u);
}

// A failed launch shows 49 characters of its own; a command line too long for
// the rest of the box is cut so the closing quote still ends the text.
TEST(Messages, LongLaunchDetailIsCutToFit) {
    const size_t room = facts::kLaunchFailedRoom;
    ASSERT_EQ(room, facts::message_capacity - 1 - LaunchFailedText("").size());
    for (const size_t detailLength : {room - 1, room, room + 1, size_t{5000}, size_t{40000}}) {
        const std::string detail(detailLength, 'x');
        char text[kMessageCapacity];
        std::memset(text, '#', sizeof(text));
        const int length = ComposeMessage(LaunchFailed, detail.c_str(), text);

        const std::string expected = LaunchFailedText(detail);
        EXPECT_EQ(expected.size(), 49 + std::min(detailLength, room));
        EXPECT_EQ(length, static_cast<int>(expected.size()));
        EXPECT_EQ(std::string(text), expected);
    }
}

}  // namespace
