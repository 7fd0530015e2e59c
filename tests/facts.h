// The facts the tests expect (release, caption, box texts, priority classes,
// limits), from tests/data/facts.def, their one home in the tests.
#pragma once

#include <cstdint>

namespace facts {

#define KELVOR_FACT(name, text) inline constexpr char name[] = text;
#define KELVOR_PRIORITY_CLASS(level, value)
#define KELVOR_BOX_KINDS(...) inline constexpr const char* kBoxTexts[] = {__VA_ARGS__};
#define KELVOR_LIMIT(name, value) inline constexpr uint32_t name = value;
#include "data/facts.def"
#undef KELVOR_FACT
#undef KELVOR_PRIORITY_CLASS
#undef KELVOR_BOX_KINDS
#undef KELVOR_LIMIT

// Indexed by priority level - 1; the file lists the levels 1 to 6 in order.
inline constexpr uint32_t kPriorityClasses[] = {
#define KELVOR_FACT(name, text)
#define KELVOR_PRIORITY_CLASS(level, value) value,
#define KELVOR_BOX_KINDS(...)
#define KELVOR_LIMIT(name, value)
#include "data/facts.def"
#undef KELVOR_FACT
#undef KELVOR_PRIORITY_CLASS
#undef KELVOR_BOX_KINDS
#undef KELVOR_LIMIT
};

}  // namespace facts
