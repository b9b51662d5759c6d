// Signing and verifying keys over the two suites, Ed25519 and ECDSA P-256.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "vesk/core/aid.h"
#include "vesk/core/base64url.h"
#include "vesk/crypto/crypto_error.h"
#include "vesk/crypto/secret.h"

namespace vesk {

using SignatureBytes = std::array<std::uint8_t, 64>;

// A public key; a plain value.
class VerifyingKey {
  public:
    // The suite is read from the AID text.
    static std::expected<VerifyingKey, CryptoError> from_aid(const Aid& aid);
    // 32 bytes: an Ed25519 key. 33 or 65 bytes: a compressed or uncompressed SEC1 P-256 point.
    static std::expected<VerifyingKey, CryptoError> from_public_bytes(
        std::span<const std::uint8_t> bytes);

    Algorithm algorithm() const { return algorithm_; }
    // Ed25519: the 32-byte encoding; P-256: the 33-byte compressed point.
    Bytes to_bytes() const;
    // The 65-byte uncompressed point of a P-256 key; nothing for Ed25519.
    std::optional<std::array<std::uint8_t, 65>> p256_uncompressed() const;

    // Ed25519 in the strict form; P-256 ECDSA over SHA-256(message) with r || s.
    std::expected<void, CryptoError> verify(std::span<const std::uint8_t> message,
                                            std::span<const std::uint8_t> signature) const;

    friend bool operator==(const VerifyingKey&, const VerifyingKey&) = default;

  private:
    friend class SigningKey;
    VerifyingKey(Algorithm algorithm, std::span<const std::uint8_t> bytes);
    Algorithm algorithm_;
    std::array<std::uint8_t, 65> bytes_{};  // Ed25519: the first 32; P-256: SEC1 uncompressed
};

// The agent's private key and its AID. Held once and shared; the secret is wiped on release.
class SigningKey;
using SharedSigningKey = std::shared_ptr<const SigningKey>;

class SigningKey {
  public:
    // The 32-byte RFC 8032 secret.
    static SharedSigningKey from_ed25519_seed(std::span<const std::uint8_t, 32> seed);
    // A big-endian scalar d with 0 < d < n, else PublicKeyParse "signature error".
    static std::expected<SharedSigningKey, CryptoError> from_p256_scalar(
        std::span<const std::uint8_t, 32> scalar);
    // Fresh keys from the operating system's random source; a failing source is a fault.
    static SharedSigningKey generate_ed25519();
    static SharedSigningKey generate_p256();

    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    Algorithm algorithm() const { return public_key_.algorithm(); }
    const Aid& aid() const { return aid_; }
    const VerifyingKey& verifying_key() const { return public_key_; }
    // The raw public key of an Ed25519 key; nothing for P-256.
    std::optional<std::array<std::uint8_t, 32>> ed25519_public_key() const;

    // Pure Ed25519 over the message, or deterministic ES256 (RFC 6979): always 64 bytes.
    SignatureBytes sign(std::span<const std::uint8_t> message) const;

  private:
    SigningKey(std::span<const std::uint8_t, 32> secret, VerifyingKey public_key, Aid aid);
    Secret<32> secret_;  // the Ed25519 seed or the P-256 scalar
    VerifyingKey public_key_;
    Aid aid_;
};

}  // namespace vesk
