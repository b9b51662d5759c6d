// base64url without padding, and the strict decoder every non-AID field uses.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

enum class Base64Error { PaddingForbidden, InvalidCharacter };

std::string_view text(Base64Error error);

using Bytes = std::vector<std::uint8_t>;

std::string b64u_encode(std::span<const std::uint8_t> bytes);
inline std::string b64u_encode(std::string_view bytes) {
    return b64u_encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::expected<Bytes, Base64Error> b64u_decode(std::string_view text);

// One of the 64 characters of the URL-safe alphabet.
constexpr bool is_b64url_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

}  // namespace vesk
