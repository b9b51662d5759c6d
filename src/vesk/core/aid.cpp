#include "vesk/core/aid.h"

#include <algorithm>

#include "vesk/core/base64url.h"
#include "vesk/core/fault.h"

namespace vesk {
namespace {

constexpr std::string_view kEd25519Prefix = "aid:pubkey:ed25519:";
constexpr std::string_view kP256Prefix = "aid:pubkey:p256:";
constexpr std::string_view kShortPrefix = "aid:pubkey:";
constexpr std::string_view kScheme = "aid:";

// Checks length, alphabet and canonical decoding of an identifier; the alphabet check comes
// first so a stray character is never reported as a length or decoding problem.
std::expected<Bytes, AidError> decode_identifier(std::string_view id, std::size_t chars,
                                                 std::size_t bytes) {
    if (id.size() != chars) return std::unexpected(AidError::length(chars, id.size()));
    if (!std::ranges::all_of(id, is_b64url_char)) return std::unexpected(AidError::characters());
    auto decoded = b64u_decode(id);
    if (!decoded || decoded->size() != bytes) return std::unexpected(AidError::characters());
    return std::move(*decoded);
}

std::string_view identifier_of(std::string_view text) {
    if (text.starts_with(kEd25519Prefix)) return text.substr(kEd25519Prefix.size());
    if (text.starts_with(kP256Prefix)) return text.substr(kP256Prefix.size());
    return text.substr(kShortPrefix.size());
}

template <std::size_t N>
std::array<std::uint8_t, N> decode_validated(std::string_view id) {
    auto decoded = b64u_decode(id);
    if (!decoded || decoded->size() != N) {
        fault("Aid is validated on construction; identifier MUST decode to " + std::to_string(N) +
              " bytes");
    }
    std::array<std::uint8_t, N> out;
    std::ranges::copy(*decoded, out.begin());
    return out;
}

// The first prefix that matches decides; later forms are not tried.
std::expected<void, AidError> validate(std::string_view t) {
    if (t.starts_with(kEd25519Prefix)) {
        auto key = decode_identifier(t.substr(kEd25519Prefix.size()), 43, 32);
        if (!key) return std::unexpected(key.error());
    } else if (t.starts_with(kP256Prefix)) {
        auto key = decode_identifier(t.substr(kP256Prefix.size()), 44, 33);
        if (!key) return std::unexpected(key.error());
        if ((*key)[0] != 0x02 && (*key)[0] != 0x03) return std::unexpected(AidError::characters());
    } else if (t.starts_with(kShortPrefix)) {
        const std::string_view rest = t.substr(kShortPrefix.size());
        if (auto colon = rest.find(':'); colon != std::string_view::npos) {
            return std::unexpected(
                AidError::unsupported_method("pubkey:" + std::string(rest.substr(0, colon))));
        }
        auto key = decode_identifier(rest, 43, 32);
        if (!key) return std::unexpected(key.error());
    } else if (t.starts_with(kScheme)) {
        const std::string_view rest = t.substr(kScheme.size());
        return std::unexpected(
            AidError::unsupported_method(std::string(rest.substr(0, rest.find(':')))));
    } else {
        return std::unexpected(AidError::not_aid());
    }
    return {};
}

}  // namespace

std::string AidError::text() const {
    switch (kind) {
        case Kind::NotAid:
            return "AID does not start with 'aid:'";
        case Kind::UnsupportedMethod:
            return "AID method '" + method + "' is not supported in v0.1; expected 'pubkey'";
        case Kind::Length:
            return "AID identifier must be exactly " + std::to_string(required) +
                   " characters; got " + std::to_string(actual);
        case Kind::Characters:
            return "AID identifier contains non-base64url characters";
    }
    fault("unknown AidError kind");
}

std::expected<Aid, AidError> Aid::parse(std::string_view text) {
    if (auto valid = validate(text); !valid) return std::unexpected(valid.error());
    return Aid(std::string(text));
}

std::expected<Aid, std::string> aid_from_json_text(std::string_view text) {
    auto aid = Aid::parse(text);
    if (!aid) return std::unexpected(aid.error().text());
    return std::move(*aid);
}

Aid Aid::from_ed25519(std::span<const std::uint8_t, 32> key) {
    return Aid(std::string(kShortPrefix) + b64u_encode(key));
}

Aid Aid::from_p256(std::span<const std::uint8_t, 33> compressed_point) {
    return Aid(std::string(kP256Prefix) + b64u_encode(compressed_point));
}

Algorithm Aid::algorithm() const {
    return text_.starts_with(kP256Prefix) ? Algorithm::P256 : Algorithm::Ed25519;
}

std::optional<std::array<std::uint8_t, 32>> Aid::ed25519_key_bytes() const {
    if (algorithm() != Algorithm::Ed25519) return std::nullopt;
    return decode_validated<32>(identifier_of(text_));
}

std::optional<std::array<std::uint8_t, 33>> Aid::p256_key_bytes() const {
    if (algorithm() != Algorithm::P256) return std::nullopt;
    return decode_validated<33>(identifier_of(text_));
}

Bytes Aid::public_key_bytes() const {
    if (algorithm() == Algorithm::P256) {
        auto key = p256_key_bytes();
        if (!key) fault("P-256 arm guarded by algorithm()");
        return Bytes(key->begin(), key->end());
    }
    auto key = ed25519_key_bytes();
    if (!key) fault("Ed25519 arm guarded by algorithm()");
    return Bytes(key->begin(), key->end());
}

}  // namespace vesk
