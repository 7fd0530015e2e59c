// The escapes of readnum's input and the reader's table (tests/data): \\ \t \n
// \v \f \r, and \xHH for any byte; every other byte stands for itself.
#pragma once

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

// The bytes an escaped line stands for; nothing when an escape is malformed.
inline std::optional<std::string> Unescape(std::string_view line) {
    constexpr std::string_view kLetters = "\\tnvfr", kBytes = "\\\t\n\v\f\r";
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        const std::string_view escape = line.substr(i + 1, 3);  // what follows a backslash
        const size_t letter = kLetters.find(escape.substr(0, 1));
        unsigned byte = 0;
        if (line[i] != '\\') {
            text += line[i];
        } else if (!escape.empty() && letter != kLetters.npos) {
            text += kBytes[letter];
            i += 1;
        } else if (escape.size() == 3 && escape[0] == 'x' &&
                   std::from_chars(escape.data() + 1, escape.data() + 3, byte, 16).ptr ==
                       escape.data() + 3) {
            text += static_cast<char>(byte);
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return text;
}
