#include "vesk/crypto/keys.h"

#include <sodium.h>

#include <algorithm>

#include "vesk/core/fault.h"
#include "vesk/core/random.h"
#include "vesk/crypto/ed25519.h"
#include "vesk/crypto/p256.h"
#include "vesk/crypto/recent_keys.h"

namespace vesk {
namespace {

void ensure_sodium() {
    static const int ready = sodium_init();
    if (ready < 0) fault("libsodium could not be initialised");
}

}  // namespace

VerifyingKey::VerifyingKey(Algorithm algorithm, std::span<const std::uint8_t> bytes)
    : algorithm_(algorithm) {
    std::ranges::copy(bytes, bytes_.begin());
}

std::expected<VerifyingKey, CryptoError> VerifyingKey::from_aid(const Aid& aid) {
    if (const auto* known = recent_keys::find(aid.as_str())) return known->key;
    std::optional<VerifyingKey> key;
    if (auto point = aid.p256_key_bytes()) {
        auto decoded = p256::decode_point(*point);
        if (!decoded) return std::unexpected(CryptoError::public_key_parse("signature error"));
        key = VerifyingKey(Algorithm::P256, *decoded);
    } else {
        auto bytes = aid.ed25519_key_bytes();
        if (!bytes) fault("Ed25519 arm guarded by algorithm()");
        if (!ed25519::is_curve_point(*bytes)) {
            return std::unexpected(CryptoError::invalid_ed25519_key("signature error"));
        }
        key = VerifyingKey(Algorithm::Ed25519, *bytes);
    }
    recent_keys::remember(aid.as_str(), *key);
    return *key;
}

std::expected<VerifyingKey, CryptoError> VerifyingKey::from_public_bytes(
    std::span<const std::uint8_t> bytes) {
    auto refused = [] { return std::unexpected(CryptoError::public_key_parse("signature error")); };
    if (bytes.size() == 32) {
        const VerifyingKey key(Algorithm::Ed25519, bytes);
        if (!recent_keys::find(key)) {
            if (!ed25519::is_curve_point(bytes.first<32>())) return refused();
            recent_keys::remember({}, key);
        }
        return key;
    }
    // An uncompressed point seen before is known to lie on the curve.
    if (bytes.size() == 65 && bytes[0] == 0x04) {
        const VerifyingKey key(Algorithm::P256, bytes);
        if (recent_keys::find(key)) return key;
    }
    auto point = p256::decode_point(bytes);
    if (!point) return refused();
    const VerifyingKey key(Algorithm::P256, *point);
    recent_keys::remember({}, key);
    return key;
}

Bytes VerifyingKey::to_bytes() const {
    if (algorithm_ == Algorithm::Ed25519) return Bytes(bytes_.begin(), bytes_.begin() + 32);
    const p256::Compressed point = p256::compress(bytes_);
    return Bytes(point.begin(), point.end());
}

std::optional<std::array<std::uint8_t, 65>> VerifyingKey::p256_uncompressed() const {
    if (algorithm_ != Algorithm::P256) return std::nullopt;
    return bytes_;
}

std::expected<void, CryptoError> VerifyingKey::verify(
    std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature) const {
    bool valid = false;
    if (signature.size() == 64) {
        if (algorithm_ == Algorithm::P256) {
            recent_keys::Entry& known = recent_keys::entry(*this);
            if (!known.verifier) known.verifier.emplace(bytes_);
            valid = known.verifier->verify(message, signature);
        } else {
            // libsodium's check is the strict one: s below the group order, canonical R,
            // neither R nor the key of small order.
            ensure_sodium();
            valid = crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                                bytes_.data()) == 0;
        }
    }
    if (!valid) return std::unexpected(CryptoError::verification_failed());
    return {};
}

SigningKey::SigningKey(std::span<const std::uint8_t, 32> secret, VerifyingKey public_key, Aid aid)
    : secret_(secret), public_key_(std::move(public_key)), aid_(std::move(aid)) {}

SharedSigningKey SigningKey::from_ed25519_seed(std::span<const std::uint8_t, 32> seed) {
    ensure_sodium();
    std::array<std::uint8_t, 32> public_key;
    Secret<64> expanded;
    if (crypto_sign_seed_keypair(public_key.data(), expanded.data(), seed.data()) != 0) {
        fault("Ed25519 key derivation failed");
    }
    VerifyingKey verifying = *VerifyingKey::from_public_bytes(public_key);
    return SharedSigningKey(new SigningKey(seed, verifying, Aid::from_ed25519(public_key)));
}

std::expected<SharedSigningKey, CryptoError> SigningKey::from_p256_scalar(
    std::span<const std::uint8_t, 32> scalar) {
    if (!p256::scalar_in_range(scalar)) {
        return std::unexpected(CryptoError::public_key_parse("signature error"));
    }
    const p256::Point point = p256::public_point(scalar);
    VerifyingKey verifying = *VerifyingKey::from_public_bytes(point);
    return SharedSigningKey(
        new SigningKey(scalar, verifying, Aid::from_p256(p256::compress(point))));
}

SharedSigningKey SigningKey::generate_ed25519() {
    Secret<32> seed;
    random_bytes(seed.span());
    return from_ed25519_seed(seed.span());
}

SharedSigningKey SigningKey::generate_p256() {
    Secret<32> candidate;
    for (;;) {
        random_bytes(candidate.span());
        if (auto key = from_p256_scalar(candidate.span())) return *key;
    }
}

std::optional<std::array<std::uint8_t, 32>> SigningKey::ed25519_public_key() const {
    if (algorithm() != Algorithm::Ed25519) return std::nullopt;
    std::array<std::uint8_t, 32> key;
    std::copy_n(public_key_.bytes_.begin(), 32, key.begin());
    return key;
}

SignatureBytes SigningKey::sign(std::span<const std::uint8_t> message) const {
    if (algorithm() == Algorithm::P256) {
        return p256::sign(secret_.span(), message);
    }
    ensure_sodium();
    // libsodium's secret key is the seed followed by the public key.
    Secret<64> expanded;
    std::ranges::copy(secret_.span(), expanded.span().begin());
    std::copy_n(public_key_.bytes_.begin(), 32, expanded.span().begin() + 32);
    SignatureBytes signature;
    if (crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(),
                             expanded.data()) != 0) {
        fault("signature operation failed");
    }
    return signature;
}

}  // namespace vesk
