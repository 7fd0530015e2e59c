// Every piece of feedback the launcher gives, composed and shown in a message box.
#pragma once

#include <cstdint>

#include "version.h"

// The kinds are fixed integers: callers may pass any int, and one outside
// 0..5 is shown as Usage.
enum class MessageKind : int {
    Usage = 0,
    NoSystemMask = 1,
    BadAffinity = 2,
    BadPriority = 3,
    BadDelay = 4,
    LaunchFailed = 5,
};

constexpr int kMessageCapacity = 4096;  // bytes, terminating NUL included
constexpr const char kMessageCaption[] = "KELVOR v" KELVOR_VERSION_TEXT;
constexpr uint32_t kMessageStyle = 0x40000;  // MB_TOPMOST: OK button, no icon, on top

// Writes the text of one box into `text` (NUL-terminated, at most 4095
// characters) and returns its length. `detail` matters for LaunchFailed only; a
// detail too long for the box is cut so the closing quote still fits.
int ComposeMessage(MessageKind kind, const char* detail, char (&text)[kMessageCapacity]);

// Shows one modal box, and after an error a second box with the usage text.
void ShowMessage(MessageKind kind, const char* detail);
