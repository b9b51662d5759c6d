// Signature texts: 86 base64url characters (Ed25519) or "p256." + 86 characters (r || s).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "vesk/crypto/crypto_error.h"
#include "vesk/crypto/keys.h"

namespace vesk {

// A checked signature text, kept whole as received (prefix included); decoded only when verified.
class SignatureText {
  public:
    // Refuses "=" anywhere, then takes off an optional "ed25519." or "p256." prefix and requires
    // exactly 86 base64url characters.
    static std::expected<SignatureText, CryptoError> parse(std::string_view text);
    const std::string& as_str() const { return text_; }

  private:
    explicit SignatureText(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// Signs a 32-byte digest; never fails for a valid key.
std::string sign_digest_to_text(const SigningKey& key, std::span<const std::uint8_t, 32> digest);

// A P-256 key needs the "p256." prefix, an Ed25519 key refuses it; every failure is
// VerificationFailed.
std::expected<void, CryptoError> verify_signature_text(const VerifyingKey& key,
                                                       std::span<const std::uint8_t, 32> digest,
                                                       std::string_view text);
inline std::expected<void, CryptoError> verify_signature_text(
    const VerifyingKey& key, std::span<const std::uint8_t, 32> digest, const SignatureText& text) {
    return verify_signature_text(key, digest, text.as_str());
}

}  // namespace vesk
