// The fixed scene of the fuzz targets: signing keys from fixed secrets (the same AIDs in every
// run, so saved inputs stay meaningful) and the moment at which tokens are checked.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "vesk/core/base64url.h"
#include "vesk/crypto/keys.h"

namespace vesk::fuzz {

// Signed seeds are issued 100 seconds before this moment and live an hour.
inline constexpr std::int64_t kNow = 1'800'000'000;

// Secret bytes first, first + 1, ..., first + 31.
inline std::array<std::uint8_t, 32> fixed_secret(std::uint8_t first) {
    std::array<std::uint8_t, 32> secret{};
    for (std::size_t i = 0; i < secret.size(); ++i)
        secret[i] = static_cast<std::uint8_t>(first + i);
    return secret;
}

// Issuers of the seeds' TCTs, vouchers, Manifests, bundles and snapshots.
inline const SigningKey& issuer_ed25519() {
    static const SharedSigningKey key = SigningKey::from_ed25519_seed(fixed_secret(1));
    return *key;
}
inline const SigningKey& issuer_p256() {
    static const SharedSigningKey key = *SigningKey::from_p256_scalar(fixed_secret(1));
    return *key;
}
// Holders: the seeds' subjects, audiences and delegators.
inline const SigningKey& holder_ed25519() {
    static const SharedSigningKey key = SigningKey::from_ed25519_seed(fixed_secret(101));
    return *key;
}
inline const SigningKey& holder_p256() {
    static const SharedSigningKey key = *SigningKey::from_p256_scalar(fixed_secret(101));
    return *key;
}

// Whether `signature` is what `signer` itself makes over `message`. Both suites sign
// deterministically; ECDSA verification also accepts (r, n - s), so for P-256 only r is compared.
inline bool is_own_signature(const SigningKey& signer, std::span<const std::uint8_t> message,
                             std::span<const std::uint8_t> signature) {
    const SignatureBytes own = signer.sign(message);
    const std::size_t compared = signer.algorithm() == Algorithm::P256 ? 32 : own.size();
    return signature.size() == own.size() &&
           std::equal(own.begin(), own.begin() + compared, signature.begin());
}

// The same for a compact token, whose signature covers its first two segments.
inline bool is_own_signature(const SigningKey& signer, std::string_view token) {
    const std::size_t dot = token.rfind('.');
    if (dot == std::string_view::npos) return false;
    auto signature = b64u_decode(token.substr(dot + 1));
    return signature &&
           is_own_signature(signer, {reinterpret_cast<const std::uint8_t*>(token.data()), dot},
                            *signature);
}

// The same for a signature text over a digest ("p256." or "ed25519." before the base64url).
inline bool is_own_signature_text(const SigningKey& signer, std::span<const std::uint8_t> digest,
                                  std::string_view text) {
    for (std::string_view prefix : {"p256.", "ed25519."}) {
        if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    }
    auto signature = b64u_decode(text);
    return signature && is_own_signature(signer, digest, *signature);
}

}  // namespace vesk::fuzz
