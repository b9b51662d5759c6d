// RSASSA-PKCS1-v1_5 with SHA-256 (RS256) verification for RSA keys of 2048 to 8192 bits,
// built from the big-endian modulus and exponent a JSON Web Key carries.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "vesk/crypto/openssl_ptr.h"

namespace vesk {

struct RsaError {
    enum class Kind {
        ModulusEncoding,  // empty, or a leading zero byte
        ModulusSize,      // fewer than 2048 or more than 8192 bits
        ModulusEven,
        Exponent,  // leading zero, even, below 3 or above 2^33 - 1
        SignatureInvalid,
    };
    Kind kind;
};

class RsaPublicKey {
  public:
    static constexpr std::size_t kMinBits = 2048;
    static constexpr std::size_t kMaxBits = 8192;

    // Takes the modulus and public exponent as minimal big-endian unsigned integers.
    static std::expected<RsaPublicKey, RsaError> from_components(
        std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent);

    std::size_t modulus_bits() const { return modulus_bits_; }

    // Checks an RS256 signature over `message`. The signature must be exactly as long as the
    // modulus and below it; the padding and DigestInfo must be the one DER encoding.
    std::expected<void, RsaError> verify_rs256(std::span<const std::uint8_t> message,
                                               std::span<const std::uint8_t> signature) const;

  private:
    using KeyPtr = OpensslPtr<EVP_PKEY, EVP_PKEY_free>;

    RsaPublicKey(KeyPtr key, std::size_t modulus_bits)
        : key_(std::move(key)), modulus_bits_(modulus_bits) {}

    KeyPtr key_;
    std::size_t modulus_bits_;
};

// Builds the key and checks the signature; a refused key is reported as such.
std::expected<void, RsaError> verify_rs256(std::span<const std::uint8_t> modulus,
                                           std::span<const std::uint8_t> exponent,
                                           std::span<const std::uint8_t> message,
                                           std::span<const std::uint8_t> signature);

}  // namespace vesk
