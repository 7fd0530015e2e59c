// kelvor's release number: the box caption, the exe's version resource and
// manifest, the build and the release zip all take it from this file. The tests'
// facts (tests/data/facts.def) and the README repeat it; configuring the Wine
// tests (tests/e2e/CMakeLists.txt) fails unless they agree with it.
// Plain macros, so the resource compiler can read it too.
#pragma once

#define KELVOR_VERSION_MAJOR 4
#define KELVOR_VERSION_MINOR 443

#define KELVOR_STRINGIFY_(x) #x
#define KELVOR_STRINGIFY(x) KELVOR_STRINGIFY_(x)
// "4.443"
#define KELVOR_VERSION_TEXT \
    KELVOR_STRINGIFY(KELVOR_VERSION_MAJOR) "." KELVOR_STRINGIFY(KELVOR_VERSION_MINOR)
