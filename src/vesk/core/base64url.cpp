#include "vesk/core/base64url.h"

#include <sodium.h>

#include <array>
#include <cstdint>


namespace vesk {

std::string_view text(Base64Error error) {
    switch (error) {
        case Base64Error::PaddingForbidden:
            return "base64url padding is forbidden in VESK";
        case Base64Error::InvalidCharacter:
            return "invalid base64url character";
    }
    return "invalid base64url character";
}

std::string b64u_encode(std::span<const std::uint8_t> bytes) {
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    if (bytes.empty()) return {};
    std::string out(sodium_base64_encoded_len(bytes.size(), variant), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), variant);
    out.resize(out.size() - 1);  // the encoder's terminating NUL
    return out;
}

namespace {

// The value of each base64url character, or -1.
constexpr std::array<std::int8_t, 256> kDecodeTable = [] {
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}();

}  // namespace

// Decoded by table, not by libsodium: its decoder (1.0.18) reads every byte from 0x80 up as '_',
// so "é" in a signature segment passed for "__", and its constant-time loop costs about a
// hundred instructions a character where token verification decodes hundreds of them.
// Everything decoded here is public (tokens, signatures, nonces, public keys).
std::expected<Bytes, Base64Error> b64u_decode(std::string_view input) {
    if (input.find('=') != std::string_view::npos) {
        return std::unexpected(Base64Error::PaddingForbidden);
    }
    Bytes out;
    out.reserve(input.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;  // unsigned: the old high bits may wrap away
    int pending = 0;         // how many low bits of `bits` are not yet written
    for (const char c : input) {
        const int value = kDecodeTable[static_cast<unsigned char>(c)];
        if (value < 0) return std::unexpected(Base64Error::InvalidCharacter);
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> pending));
        }
    }
    // A lone last character, or unused low bits that are not zero, is no canonical encoding.
    if (pending > 4 || (bits & ((1U << pending) - 1U)) != 0) {
        return std::unexpected(Base64Error::InvalidCharacter);
    }
    return out;
}

}  // namespace vesk
