// Turns fuzz bytes into the texts the targets hand to the launcher's core.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace fuzz_input {

// Texts longer than a fuzz input normally gets: a first byte of 0xFF asks for a
// run of one character, 32,752 to 32,783 long, so the 32,767-character scanning
// bound is reached cheaply. Layout: 0xFF, run character, run length - 32,752 (mod
// 32), then the text; the run replaces the first 0xFE byte of the text, or goes
// in front of it when there is none.
inline std::vector<char> ExpandText(const uint8_t* data, size_t size) {
    std::vector<char> text;
    if (size >= 3 && data[0] == 0xFF) {
        const char fill = static_cast<char>(data[1]);
        const size_t run = 32752 + data[2] % 32;
        const uint8_t* rest = data + 3;
        const size_t restSize = size - 3;
        const void* mark = std::memchr(rest, 0xFE, restSize);
        const size_t at = mark ? static_cast<const uint8_t*>(mark) - rest : 0;
        text.insert(text.end(), rest, rest + at);
        text.insert(text.end(), run, fill);
        text.insert(text.end(), rest + at + (mark ? 1 : 0), rest + restSize);
    } else {
        text.assign(data, data + size);
    }
    return text;
}

// A heap copy of exactly the text and its NUL, so reading one byte too far is an
// AddressSanitizer report; it keeps the bytes it was made from to tell a write.
class ExactText {
public:
    explicit ExactText(std::vector<char> text)
        : original_(std::move(text)), bytes_(new char[original_.size() + 1]) {
        std::copy(original_.begin(), original_.end(), bytes_.get());
        bytes_[original_.size()] = '\0';
    }
    ExactText(const uint8_t* data, size_t size) : ExactText(std::vector<char>(data, data + size)) {}

    char* data() { return bytes_.get(); }
    // Length as C code sees it: up to the first NUL.
    size_t length() const { return std::strlen(bytes_.get()); }
    // Every byte as it was, an embedded NUL and what follows it included.
    bool Unchanged() const {
        return std::equal(original_.begin(), original_.end(), bytes_.get()) &&
               bytes_[original_.size()] == '\0';
    }

private:
    std::vector<char> original_;
    std::unique_ptr<char[]> bytes_;
};

// Reads fixed-size fields off the front of the fuzz bytes; zeros once they run out.
class Fields {
public:
    Fields(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
    uint32_t Word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    const uint8_t* rest() const { return data_ + used_; }
    size_t restSize() const { return size_ - used_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

}  // namespace fuzz_input

// Stops the run with a message on stderr (unbuffered, so it survives the trap);
// libFuzzer reports the input that led here.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (0)
