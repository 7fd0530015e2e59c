// A kelvor-cpus line with its check appended: CRC-32 of zip and PNG from a
// table, unlike the product's bitwise loop. Shared by the unit tests and the fuzz target.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string Checked(const std::string& line) {
    uint32_t table[256];
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : line) {
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    char check[9];
    snprintf(check, sizeof check, "%08X", crc ^ 0xFFFFFFFF);
    return line + ";x=" + check;
}
