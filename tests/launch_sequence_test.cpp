#include "launch_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "argument_text.h"
#include "facts.h"
#include "test_platform.h"

namespace {

using test_platform::Call;
using test_platform::Function;

// A run of the table: see tests/data/launch_runs.def.
struct LaunchRun {
    const char* name;  // with the argument text, the command line; null: none
    const char* argumentText;
    std::optional<uint32_t> systemMask;  // none: Windows cannot tell
    std::vector<const char*> boxes;
    const char* target = nullptr;  // what CreateProcessA gets; null: it is never called
    uint32_t delay = 0;
    uint32_t affinity = 0;
    int priority = 0;  // the level, 1 to 6; facts.def has the class it sets
};

// The rows name boxes by their facts (usage, bad_affinity, ...).
using namespace facts;
constexpr char launch_failed[] = "";  // composed from the target command line
constexpr std::optional<uint32_t> unknown;

// The mask of the highest CPU alone starts the target; the next bit's is refused.
const std::string kHighestCpuAlone = std::to_string(1ull << highest_cpu) + " 3 0 x";
const std::string kBeyondHighestCpu = std::to_string(1ull << (highest_cpu + 1)) + " 3 0 x";

const LaunchRun kRuns[] = {
    {"kelvor.exe ", kHighestCpuAlone.c_str(), 0xFFFFFFFF, {}, "x", 0, 1u << highest_cpu, 3},
    {"kelvor.exe ", kBeyondHighestCpu.c_str(), 0xFFFFFFFF, {bad_affinity, usage}},
#define KELVOR_REFUSES(group, name, argumentText, systemMask, ...) \
    {name, argumentText, systemMask, {__VA_ARGS__}},
#define KELVOR_LAUNCHES(group, name, argumentText, systemMask, target, delay, affinity, priority, \
                        ...)                                                                      \
    {name, argumentText, systemMask, {__VA_ARGS__}, target, delay, affinity, priority},
#include "data/launch_runs.def"
#undef KELVOR_REFUSES
#undef KELVOR_LAUNCHES
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

// Each row as the exe runs it: the start-up cuts the argument text off the
// command line and hands it to WinMain.
TEST(LaunchSequence, RunsAsTheTableSays) {
    for (const LaunchRun& run : kRuns) {
        const bool hasCommandLine = run.name != nullptr;
        std::string commandLine = hasCommandLine ? std::string(run.name) + run.argumentText : "";
        SCOPED_TRACE(hasCommandLine ? commandLine : "(no command line)");
        std::vector<std::string> boxes;
        for (const char* box : run.boxes) {
            boxes.push_back(box == launch_failed ? LaunchFailedText(run.target) : box);
        }
        const bool launchFails =
            std::find(run.boxes.begin(), run.boxes.end(), launch_failed) != run.boxes.end();
        test_platform::Script script;
        script.systemMaskKnown = run.systemMask.has_value();
        script.systemMask = run.systemMask.value_or(0);
        script.createSucceeds = !launchFails;
        test_platform::Reset(script);
        char* argumentText = CutArgumentText(hasCommandLine ? commandLine.data() : nullptr);

        EXPECT_EQ(WinMain(nullptr, nullptr, argumentText, 10), 0);

        std::vector<Function> expected;
        if (argumentText != nullptr && *argumentText != '\0') {
            expected = {Function::GetCurrentProcess, Function::GetProcessAffinityMask};
        }
        // The failure box and usage come after the launch, every other box before it.
        expected.insert(expected.end(), boxes.size() - (launchFails ? 2 : 0),
                        Function::MessageBoxA);
        const size_t create = expected.size();
        if (launchFails) {
            expected.insert(expected.end(), {Function::CreateProcessA, Function::MessageBoxA,
                                             Function::MessageBoxA});
        } else if (run.target != nullptr) {
            expected.insert(expected.end(),
                            {Function::CreateProcessA, Function::Sleep,
                             Function::SetProcessAffinityMask, Function::SetPriorityClass});
        }
        ASSERT_EQ(test_platform::Functions(), expected);
        EXPECT_EQ(test_platform::BoxTexts(), boxes);

        const std::vector<Call>& calls = test_platform::Calls();
        if (!expected.empty() && expected[0] == Function::GetCurrentProcess) {
            EXPECT_EQ(calls[1].process, script.ownProcess);
        }
        if (run.target != nullptr) {
            ExpectStartedAsWindowsExpects(calls[create], argumentText, run.target);
        }
        if (run.target != nullptr && !launchFails) {
            EXPECT_EQ(calls[create + 1].value, run.delay);
            EXPECT_EQ(calls[create + 2].process, script.targetProcess);
            EXPECT_EQ(calls[create + 2].value,
                      run.affinity & run.systemMask.value_or(fallback_mask));
            EXPECT_EQ(calls[create + 3].process, script.targetProcess);
            EXPECT_EQ(calls[create + 3].value, kPriorityClasses[run.priority - 1]);
        }
    }
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
