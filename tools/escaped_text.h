// The escapes of readnum's input and the reader's table (tests/data): \\ \t \n
// \v \f \r, and \xHH for any byte; every other byte stands for itself.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

// The bytes an escaped line stands for; nothing when an escape is malformed.
inline std::optional<std::string> Unescape(std::string_view line) {
    constexpr std::string_view kLetters = "\\tnvfr";
    constexpr std::string_view kBytes = "\\\t\n\v\f\r";
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\') {
            text += line[i];
        } else if (i + 1 < line.size() && kLetters.find(line[i + 1]) != kLetters.npos) {
            text += kBytes[kLetters.find(line[++i])];
        } else if (line.substr(i + 1, 1) == "x" && i + 4 <= line.size()) {
            unsigned byte = 0;
            const char* hex = line.data() + i + 2;
            if (std::from_chars(hex, hex + 2, byte, 16).ptr != hex + 2) {
                return std::nullopt;
            }
            text += static_cast<char>(byte);
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return text;
}
