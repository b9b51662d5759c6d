#include "vesk/core/base64url.h"

#include <sodium.h>

#include <algorithm>

#include "vesk/core/fault.h"

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

std::expected<Bytes, Base64Error> b64u_decode(std::string_view input) {
    if (input.find('=') != std::string_view::npos) return std::unexpected(Base64Error::PaddingForbidden);
    const std::size_t n = input.size();
    if (n == 0) return Bytes{};
    const std::size_t capacity = n / 4 * 3 + (n % 4) * 3 / 4;
    Bytes out(std::max<std::size_t>(capacity, 1));  // the decoder wants a non-null buffer
    std::size_t written = 0;
    // No end pointer: every input character must belong to the alphabet.
    if (sodium_base642bin(out.data(), capacity, input.data(), n, nullptr, &written, nullptr,
                          sodium_base64_VARIANT_URLSAFE_NO_PADDING) != 0) {
        return std::unexpected(Base64Error::InvalidCharacter);
    }
    out.resize(written);
    return out;
}

}  // namespace vesk
