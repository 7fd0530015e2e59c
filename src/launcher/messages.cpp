// The launcher's every box: each kind's text, composed into one buffer, shown
// with the caption, and after an error followed by the usage box.
#include "messages.h"

#include "platform.h"

namespace {

constexpr char kWarningHeading[] = "Warning:\n\n";
constexpr char kErrorHeading[] = "Error:\n\n";

// Runs of spaces line up the columns of the tables; they are part of the text.
constexpr char kUsageText[] =
    "USAGE:\tkelvor.exe <affinity> <priority> <delay> <cmdl>\n\n"
    "Where:\taffinity:\tA (decimal) mask specifying which CPUs to use\n"
    "      \tpriority:\tProcess priority from 1 to 6 (1=idle, 6=realtime)\n"
    "      \tdelay:   \tDelay in ms before setting the affinity and priority\n"
    "      \tcmdl:     \tThe command line of the target program ";

constexpr char kNoSystemMaskText[] =
    "Unable to obtain system affinity mask, no checking\n"
    "of the user-specified affinity mask will occur";

constexpr char kBadAffinityText[] =
    "The specified affinity mask does not"
    " include any available CPUs:\n"
    "    1 = cpu0       \t4 = cpu2       \t7 = cpu0, cpu1, cpu2\n"
    "    2 = cpu1       \t5 = cpu0, cpu2 \t8 = cpu3\n"
    "    3 = cpu0, cpu1 \t6 = cpu1, cpu2 \tetc.";

constexpr char kBadPriorityText[] =
    "You must specify a priority between 1 and 6:\n"
    "    1 = Idle/Low         \t4 = Above Normal\n"
    "    2 = Below Normal     \t5 = High\n"
    "    3 = Normal           \t6 = Realtime (Dangerous!)\n";

constexpr char kBadDelayText[] =
    "You must specify a delay between 0 and\n"
    "60,000 (0 = none, 60,000 = one minute)";

constexpr char kLaunchFailedText[] = "CreateProcess() failed, trying to run:\n\"";

// Copies `piece` to `out` up to its NUL or up to `end`, whichever comes first,
// and returns the position behind what it copied.
char* Append(char* out, const char* end, const char* piece) {
    while (out < end && *piece != '\0') {
        *out++ = *piece++;
    }
    return out;
}

// What each kind shows: a heading line, its own text, for a failed launch the
// command line in quotes, and after an error a second box with the usage text.
struct KindDescription {
    const char* heading;
    const char* text;
    bool showsDetail;
    bool usageFollows;
};

// Errors have a heading and are followed by the usage text; the rest differ
// below. A kind outside 0..5 is shown as Usage. (Fields set one by one rather
// than a table: the exe's read-only data has no room left in its 512-byte step.)
KindDescription Describe(MessageKind kind) {
    KindDescription description;
    description.heading = kErrorHeading;
    description.showsDetail = false;
    description.usageFollows = true;
    using enum MessageKind;
    switch (kind) {
        case BadAffinity:
            description.text = kBadAffinityText;
            break;
        case BadPriority:
            description.text = kBadPriorityText;
            break;
        case BadDelay:
            description.text = kBadDelayText;
            break;
        case LaunchFailed:
            description.text = kLaunchFailedText;
            description.showsDetail = true;
            break;
        case NoSystemMask:
            description.heading = kWarningHeading;
            description.text = kNoSystemMaskText;
            description.usageFollows = false;
            break;
        default:
            description.heading = "";
            description.text = kUsageText;
            description.usageFollows = false;
            break;
    }
    return description;
}

}  // namespace

int ComposeMessage(MessageKind kind, const char* detail, char (&text)[kMessageCapacity]) {
    char* const last = text + kMessageCapacity - 1;  // room for the NUL
    const KindDescription description = Describe(kind);
    char* out = Append(text, last, description.heading);
    out = Append(out, last, description.text);
    if (description.showsDetail) {
        // Cut a long detail one short of the end so the closing quote fits.
        out = Append(out, last - 1, detail != nullptr ? detail : "");
        out = Append(out, last, "\"");
    }
    *out = '\0';
    return static_cast<int>(out - text);
}

void ShowMessage(MessageKind kind, const char* detail) {
    // One text buffer serves every box. It lives outside the stack: a frame
    // this large would need stack probes from a runtime library the exe lacks.
    static char text[kMessageCapacity];
    ComposeMessage(kind, detail, text);
    platform::MessageBoxA(nullptr, text, kMessageCaption, kMessageStyle);
    if (Describe(kind).usageFollows) {
        ShowMessage(MessageKind::Usage, nullptr);
    }
}
