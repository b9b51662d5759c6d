// SHA-256, the digest every signed structure is reduced to.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace vesk {

using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::span<const std::uint8_t> bytes);
inline Digest sha256(std::string_view text) {
    return sha256(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace vesk
