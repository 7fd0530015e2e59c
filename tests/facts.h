// The facts the tests expect (release, caption, box texts, priority classes,
// limits), from tests/data/facts.def, their one home in the tests.
#pragma once

#include <cstdint>
#include <string>

namespace facts {

#define KELVOR_FACT(name, text) inline constexpr char name[] = text;
#define KELVOR_PRIORITY_CLASS(level, value) inline constexpr uint32_t kPriorityClass##level = value;
#define KELVOR_BOX_KINDS(...) inline constexpr const char* kBoxTexts[] = {__VA_ARGS__};
#define KELVOR_LIMIT(name, value) inline constexpr uint32_t name = value;
#include "data/facts.def"
#undef KELVOR_FACT
#undef KELVOR_PRIORITY_CLASS
#undef KELVOR_BOX_KINDS
#undef KELVOR_LIMIT

// Indexed by priority level - 1.
inline constexpr uint32_t kPriorityClasses[] = {kPriorityClass1, kPriorityClass2, kPriorityClass3,
                                                kPriorityClass4, kPriorityClass5, kPriorityClass6};

// A failed launch's box: as much of the command line as the box holds (its
// closing quote always fits), between the head and the tail.
inline constexpr size_t kLaunchFailedRoom =
    message_capacity + 1 - sizeof(launch_failed_head) - sizeof(launch_failed_tail);
inline std::string LaunchFailedText(const std::string& commandLine) {
    return launch_failed_head + commandLine.substr(0, kLaunchFailedRoom) + launch_failed_tail;
}

}  // namespace facts
