#include "vesk/crypto/signature_text.h"

#include <algorithm>

#include "vesk/core/base64url.h"

namespace vesk {
namespace {

constexpr std::string_view kEd25519Prefix = "ed25519.";
constexpr std::string_view kP256Prefix = "p256.";
constexpr std::size_t kPayloadChars = 86;

}  // namespace

std::expected<SignatureText, CryptoError> SignatureText::parse(std::string_view text) {
    if (text.find('=') != std::string_view::npos) {
        return std::unexpected(CryptoError::signature_parse("padding is forbidden"));
    }
    std::string_view payload = text;
    if (payload.starts_with(kEd25519Prefix)) {
        payload.remove_prefix(kEd25519Prefix.size());
    } else if (payload.starts_with(kP256Prefix)) {
        payload.remove_prefix(kP256Prefix.size());
    }
    if (payload.size() != kPayloadChars) {
        return std::unexpected(CryptoError::signature_parse("expected 86 payload characters, got " +
                                                            std::to_string(payload.size())));
    }
    if (!std::ranges::all_of(payload, is_b64url_char)) {
        return std::unexpected(CryptoError::signature_parse("non-base64url character"));
    }
    return SignatureText(std::string(text));
}

std::string sign_digest_to_text(const SigningKey& key, std::span<const std::uint8_t, 32> digest) {
    const std::string encoded = b64u_encode(key.sign(digest));
    return key.algorithm() == Algorithm::P256 ? std::string(kP256Prefix) + encoded : encoded;
}

std::expected<void, CryptoError> verify_signature_text(const VerifyingKey& key,
                                                       std::span<const std::uint8_t, 32> digest,
                                                       std::string_view text) {
    const auto failed = std::unexpected(CryptoError::verification_failed());
    std::string_view payload = text;
    if (key.algorithm() == Algorithm::P256) {
        if (!payload.starts_with(kP256Prefix)) return failed;
        payload.remove_prefix(kP256Prefix.size());
    } else {
        if (payload.starts_with(kP256Prefix)) return failed;
        if (payload.starts_with(kEd25519Prefix)) payload.remove_prefix(kEd25519Prefix.size());
    }
    auto signature = b64u_decode(payload);
    if (!signature) return failed;
    return key.verify(digest, *signature);
}

}  // namespace vesk
