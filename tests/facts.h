// The facts the tests expect (release, caption, box texts, priority classes),
// from tests/data/facts.def, their one home in the tests.
#pragma once

#include <cstdint>

namespace facts {

#define KELVOR_FACT(name, text) inline constexpr char name[] = text;
#define KELVOR_PRIORITY_CLASS(level, value)
#include "data/facts.def"
#undef KELVOR_FACT
#undef KELVOR_PRIORITY_CLASS

// Indexed by priority level - 1; the file lists the levels 1 to 6 in order.
inline constexpr uint32_t kPriorityClasses[] = {
#define KELVOR_FACT(name, text)
#define KELVOR_PRIORITY_CLASS(level, value) value,
#include "data/facts.def"
#undef KELVOR_FACT
#undef KELVOR_PRIORITY_CLASS
};

}  // namespace facts
