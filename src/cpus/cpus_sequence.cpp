// The run: the answer, the layout, the line onto the clipboard first, so the
// box can say whether it got there, then the box.
#include "cpus_sequence.h"

#include "cpus_platform.h"
#include "layout_box.h"
#include "layout_line.h"
#include "layout_reader.h"

namespace {

constexpr uint32_t kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER

// Outside the stack: frames this large would need stack probes, which the exe lacks.
uint8_t answer[kAnswerCapacity];
CpuLayout layout;
char line[kLineCapacity];
char box[kBoxCapacity];

}  // namespace

int CpusMain() {
    uint32_t length = sizeof(answer);
    uint32_t error = 0;
    LayoutRead read;
    if (!cpus_platform::GetProcessorAnswer(answer, &length, &error)) {
        read = error == kInsufficientBuffer ? LayoutRead{LayoutOutcome::AnswerTooLarge, length}
                                            : LayoutRead{LayoutOutcome::CallRefused, error};
    } else if (length > sizeof(answer)) {
        read = LayoutRead{LayoutOutcome::AnswerTooLarge, length};
    } else {
        read = ReadLayout(answer, length, layout);
    }
    bool onClipboard = false;
    if (read.outcome == LayoutOutcome::Read) {
        const int lineLength = ComposeLayoutLine(layout, line, sizeof(line));
        onClipboard = lineLength > 0 && cpus_platform::PutTextOnClipboard(line, lineLength);
    }
    ComposeLayoutBox(layout, read, line, onClipboard, box, sizeof(box));
    cpus_platform::ShowBox(box, kBoxCaption, kBoxStyle);
    return 0;
}
