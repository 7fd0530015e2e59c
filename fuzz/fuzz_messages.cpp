// Fuzzes the message composer with any kind and any detail, up to and past 32 KB,
// and checks the composed text and the boxes that ShowMessage puts up.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "facts.h"
#include "fuzz_input.h"
#include "messages.h"
#include "test_platform.h"

namespace {

using test_platform::Function;

constexpr int kBadAffinity = static_cast<int>(MessageKind::BadAffinity);
constexpr int kLaunchFailed = static_cast<int>(MessageKind::LaunchFailed);

// The whole text of a box other than a failed launch's: a kind outside 0..5
// shows the usage text.
const char* FactText(int kind) {
    return kind >= 0 && kind < kLaunchFailed ? facts::kBoxTexts[kind] : facts::usage;
}

}  // namespace

// Input: kind (4 bytes), flags (1 byte), filler length (2 bytes), filler byte, then
// the detail's own bytes. Flag bit 0 appends the filler run to the detail, so
// details reach 64 KB; bit 1 passes no detail for kinds other than LaunchFailed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Fields fields(data, size);
    const int kind = static_cast<int>(fields.Word());
    const uint8_t flags = fields.Byte();
    const size_t fillerLength = fields.Byte() | (static_cast<size_t>(fields.Byte()) << 8);
    const char filler = static_cast<char>(fields.Byte());
    std::vector<char> detailBytes(fields.rest(), fields.rest() + fields.restSize());
    if (flags & 1) {
        detailBytes.insert(detailBytes.end(), fillerLength, filler);
    }
    fuzz_input::ExactText detail(detailBytes);
    const bool noDetail = (flags & 2) != 0 && kind != kLaunchFailed;
    const char* detailText = noDetail ? nullptr : detail.data();

    // The text buffer is a heap block of exactly the capacity, so a write past it
    // is an AddressSanitizer report.
    char* block = new char[kMessageCapacity];
    std::memset(block, 0x5A, kMessageCapacity);
    char(&text)[kMessageCapacity] = *reinterpret_cast<char(*)[kMessageCapacity]>(block);
    const int length = ComposeMessage(static_cast<MessageKind>(kind), detailText, text);

    // The box's capacity and style are the tests' facts, not the product's constants.
    constexpr int kLongest = facts::message_capacity - 1;
    FUZZ_CHECK(length >= 0 && length <= kLongest);
    FUZZ_CHECK(std::memchr(text, '\0', kMessageCapacity) != nullptr);
    FUZZ_CHECK(static_cast<size_t>(length) == std::strlen(text));
    // A failed launch shows as much of the detail as fits (all of it when it fits).
    const std::string composed(text);
    FUZZ_CHECK(composed == (kind == kLaunchFailed ? facts::LaunchFailedText(detail.data())
                                                  : std::string(FactText(kind))));
    delete[] block;

    // ShowMessage: one box with the composed text, and after an error the usage box.
    test_platform::Reset();
    ShowMessage(static_cast<MessageKind>(kind), detailText);
    const std::vector<test_platform::Call>& calls = test_platform::Calls();
    const bool isError = kind >= kBadAffinity && kind <= kLaunchFailed;
    FUZZ_CHECK(calls.size() == (isError ? 2u : 1u));
    for (const test_platform::Call& call : calls) {
        FUZZ_CHECK(call.function == Function::MessageBoxA);
        FUZZ_CHECK(call.process == nullptr);
        FUZZ_CHECK(call.caption == facts::caption);
        FUZZ_CHECK(call.value == facts::box_style);
    }
    FUZZ_CHECK(calls[0].text == composed);
    if (isError) {
        FUZZ_CHECK(calls[1].text == facts::usage);
    }
    return 0;
}
