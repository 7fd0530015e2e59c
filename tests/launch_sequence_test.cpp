#include "launch_sequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "facts.h"
#include "test_platform.h"

namespace {

using test_platform::Call;
using test_platform::Function;

struct Started {
    const char* commandLine;  // the tail of the argument text the target is started with
    uint32_t delay;
    uint32_t mask;
    int priority;  // the level, 1 to 6; facts.def has the class it sets
};

struct LaunchRun {
    const char* argumentText;
    std::vector<std::string> boxes;  // texts in the order shown, usage boxes included
    std::optional<Started> started;
    uint32_t systemMask = 0xF;
    bool systemMaskKnown = true;
};

const std::vector<std::string> kUsage{facts::usage};
const std::vector<std::string> kNoSystemMask{facts::no_system_mask};
const std::vector<std::string> kBadAffinity{facts::bad_affinity, facts::usage};
const std::vector<std::string> kBadPriority{facts::bad_priority, facts::usage};
const std::vector<std::string> kBadDelay{facts::bad_delay, facts::usage};
const std::vector<std::string> kWarningThenBadAffinity{facts::no_system_mask, facts::bad_affinity,
                                                       facts::usage};

const LaunchRun kRuns[] = {
    // Nothing to do: usage alone, nothing started.
    {nullptr, kUsage, {}},
    {"", kUsage, {}},
    {"3 3 0", kUsage, {}},
    {"3 3 0   ", kUsage, {}},
    // Affinity: bit 31 is negative; the mask must name an available processor.
    {"0 3 0 x", kBadAffinity, {}},
    {"2147483648 3 0 x", kBadAffinity, {}},
    {"-1 3 0 x", kBadAffinity, {}},
    {"255 3 0 x", {}, Started{"x", 0, 0x3, 3}, 0x3},
    {"4 3 0 x", kBadAffinity, {}, 0x3},
    {"15 3 0 x", {}, Started{"x", 0, 0x5, 3}, 0x5},
    {"4294967297 3 0 x", {}, Started{"x", 0, 0x1, 3}},
    {"4294967296 3 0 x", kBadAffinity, {}},
    {"+INF 3 0 x", kBadAffinity, {}},
    {"notepad", kBadAffinity, {}},
    // Without a system mask the low 30 bits stand in, after a warning shown first.
    {"1073741824 3 0 x", kWarningThenBadAffinity, {}, 0, false},
    {"1 3 0 x", kNoSystemMask, Started{"x", 0, 0x1, 3}, 0, false},
    {"4294967295 3 0 x", kWarningThenBadAffinity, {}, 0, false},
    {"1073741823 3 0 x", kNoSystemMask, Started{"x", 0, 0x3FFFFFFF, 3}, 0xFFFF, false},
    // Priority levels and their classes.
    {"1 1 0 x", {}, Started{"x", 0, 1, 1}},
    {"1 2 0 x", {}, Started{"x", 0, 1, 2}},
    {"1 3 0 x", {}, Started{"x", 0, 1, 3}},
    {"1 4 0 x", {}, Started{"x", 0, 1, 4}},
    {"1 5 0 x", {}, Started{"x", 0, 1, 5}},
    {"1 6 0 x", {}, Started{"x", 0, 1, 6}},
    {"1 0 0 x", kBadPriority, {}},
    {"1 7 0 x", kBadPriority, {}},
    {"1 notepad", kBadPriority, {}},
    // Delay: 0 to 60000 inclusive.
    {"1 3 60000 x", {}, Started{"x", 60000, 1, 3}},
    {"1 3 60001 x", kBadDelay, {}},
    {"1 3 -1 x", kBadDelay, {}},
    {"1 3 1e400 x", kBadDelay, {}},
    // Only the first failing check is reported.
    {"0 9 99999 x", kBadAffinity, {}},
    {"1 9 99999 x", kBadPriority, {}},
    // Where the fields end decides where the command line begins.
    {"1 3 0notepad", {}, Started{"notepad", 0, 1, 3}},
    {"1 3 5explorer", {}, Started{"xplorer", 5, 1, 3}},
    {"1 3 notepad", {}, Started{"notepad", 0, 1, 3}},
    {"1 3 x notepad", {}, Started{"x notepad", 0, 1, 3}},
    {"3.9 6.5 -0.5 x", {}, Started{"x", 0, 3, 6}},
    {"1 3 0   notepad", {}, Started{"notepad", 0, 1, 3}},
    {"1 3 0\tnotepad", {}, Started{"\tnotepad", 0, 1, 3}},
    {"3 4 500 \"C:\\My Tools\\app.exe\" /x",
     {},
     Started{"\"C:\\My Tools\\app.exe\" /x", 500, 3, 4}},
};

void ExpectStartedAsWindowsExpects(const Call& create, char* argumentText,
                                   const char* commandLine) {
    const size_t offset = std::strlen(argumentText) - std::strlen(commandLine);
    EXPECT_EQ(create.applicationName, nullptr);
    EXPECT_EQ(create.commandLine, argumentText + offset) << "not a pointer into the argument text";
    EXPECT_EQ(create.commandLineText, commandLine);
    EXPECT_EQ(create.processAttributes, nullptr);
    EXPECT_EQ(create.threadAttributes, nullptr);
    EXPECT_FALSE(create.inheritHandles);
    EXPECT_EQ(create.value, 0u) << "creation flags";
    EXPECT_EQ(create.environment, nullptr);
    EXPECT_EQ(create.currentDirectory, nullptr);
    platform::StartupRecord zeroed{};
    zeroed.cb = 68;
    EXPECT_EQ(std::memcmp(&create.startup, &zeroed, sizeof(zeroed)), 0);
}

TEST(LaunchSequence, RunsThroughWinMainAsTheTableSays) {
    for (const LaunchRun& run : kRuns) {
        SCOPED_TRACE(run.argumentText != nullptr ? run.argumentText : "(no argument text)");
        test_platform::Script script;
        script.systemMask = run.systemMask;
        script.systemMaskKnown = run.systemMaskKnown;
        test_platform::Reset(script);
        std::string storage = run.argumentText != nullptr ? run.argumentText : "";
        char* argumentText = run.argumentText != nullptr ? storage.data() : nullptr;

        EXPECT_EQ(WinMain(nullptr, nullptr, argumentText, 10), 0);

        std::vector<Function> expected;
        if (argumentText != nullptr && *argumentText != '\0') {
            expected = {Function::GetCurrentProcess, Function::GetProcessAffinityMask};
        }
        expected.insert(expected.end(), run.boxes.size(), Function::MessageBoxA);
        if (run.started) {
            expected.insert(expected.end(),
                            {Function::CreateProcessA, Function::Sleep,
                             Function::SetProcessAffinityMask, Function::SetPriorityClass});
        }
        ASSERT_EQ(test_platform::Functions(), expected);
        EXPECT_EQ(test_platform::BoxTexts(), run.boxes);

        const std::vector<Call>& calls = test_platform::Calls();
        if (!expected.empty() && expected[0] == Function::GetCurrentProcess) {
            EXPECT_EQ(calls[1].process, script.ownProcess);
        }
        if (run.started) {
            const size_t n = calls.size();
            ExpectStartedAsWindowsExpects(calls[n - 4], argumentText, run.started->commandLine);
            EXPECT_EQ(calls[n - 3].value, run.started->delay);
            EXPECT_EQ(calls[n - 2].process, script.targetProcess);
            EXPECT_EQ(calls[n - 2].value, run.started->mask);
            EXPECT_EQ(calls[n - 1].process, script.targetProcess);
            EXPECT_EQ(calls[n - 1].value, facts::kPriorityClasses[run.started->priority - 1]);
        }
    }
}

TEST(LaunchSequence, FailedLaunchShowsTheCommandLineAndSleepsNot) {
    test_platform::Script script;
    script.createSucceeds = false;
    test_platform::Reset(script);
    std::string argumentText = "1 3 500 \"C:\\no such\\app.exe\" -x ";

    EXPECT_EQ(WinMain(nullptr, nullptr, argumentText.data(), 10), 0);

    EXPECT_EQ(test_platform::Functions(),
              (std::vector<Function>{Function::GetCurrentProcess, Function::GetProcessAffinityMask,
                                     Function::CreateProcessA, Function::MessageBoxA,
                                     Function::MessageBoxA}));
    ExpectStartedAsWindowsExpects(test_platform::Calls()[2], argumentText.data(),
                                  "\"C:\\no such\\app.exe\" -x ");
    EXPECT_EQ(
        test_platform::BoxTexts(),
        (std::vector<std::string>{std::string(facts::launch_failed_head) +
                                      "\"C:\\no such\\app.exe\" -x " + facts::launch_failed_tail,
                                  facts::usage}));
}

// Results of the affinity and priority calls are not looked at: nothing is shown.
TEST(LaunchSequence, RefusedAffinityOrClassIsNotReported) {
    test_platform::Script script;
    script.setAffinitySucceeds = false;
    script.setPrioritySucceeds = false;
    test_platform::Reset(script);
    std::string argumentText = "1 6 0 x";

    EXPECT_EQ(WinMain(nullptr, nullptr, argumentText.data(), 10), 0);
    EXPECT_TRUE(test_platform::BoxTexts().empty());
    EXPECT_EQ(test_platform::Functions().back(), Function::SetPriorityClass);
}

}  // namespace
