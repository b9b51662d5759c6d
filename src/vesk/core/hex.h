// Hexadecimal digits, shared by the JSON reader, UUIDs, URLs and digest texts.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vesk {

// The value of an ASCII hex digit of either case, or -1 for any other character.
inline int hex_value(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// The bytes as lower-case hex, two digits each.
inline std::string lower_hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

}  // namespace vesk
