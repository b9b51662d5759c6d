// ECDSA over P-256 with SHA-256: key arithmetic, deterministic signing and verification.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "vesk/crypto/openssl_ptr.h"

namespace vesk::p256 {

using Point = std::array<std::uint8_t, 65>;  // SEC1 uncompressed, 0x04 || x || y
using Compressed = std::array<std::uint8_t, 33>;
using Signature = std::array<std::uint8_t, 64>;  // r || s, big-endian

// True when 0 < k < n; runs in constant time.
bool scalar_in_range(std::span<const std::uint8_t, 32> k);

// Reads a 33-byte compressed or 65-byte uncompressed SEC1 point; nothing when it is not on the
// curve.
std::optional<Point> decode_point(std::span<const std::uint8_t> sec1);
Compressed compress(const Point& point);

// d is a big-endian scalar with 0 < d < n.
Point public_point(std::span<const std::uint8_t, 32> d);

// Deterministic ECDSA: the nonce comes from RFC 6979 (HMAC-SHA-256) over d and SHA-256(message).
Signature sign(std::span<const std::uint8_t, 32> d, std::span<const std::uint8_t> message);

// One public key made ready for verification: the OpenSSL key and its verification context
// are built once and serve every later check. A context is not shared between threads.
class Verifier {
  public:
    explicit Verifier(const Point& point);

    // r and s must lie in 1..n-1; s is not required to be low.
    bool verify(std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature);

  private:
    OpensslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context_;
};

}  // namespace vesk::p256
