// Helpers for the tests' known-answer data; lower_hex comes from vesk/core/hex.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vesk/core/base64url.h"
#include "vesk/core/hex.h"

namespace vesk::test {

inline Bytes from_hex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

inline std::span<const std::uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace vesk::test
