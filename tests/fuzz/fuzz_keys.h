// The fixed scene of the fuzz targets: signing keys from fixed secrets (the same AIDs in every
// run, so saved inputs stay meaningful) and the moment at which tokens are checked.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
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

// The issuer of every signed seed.
inline const SigningKey& issuer_ed25519() {
    static const SharedSigningKey key = SigningKey::from_ed25519_seed(fixed_secret(1));
    return *key;
}
inline const SigningKey& issuer_p256() {
    static const SharedSigningKey key = *SigningKey::from_p256_scalar(fixed_secret(1));
    return *key;
}
// The holder (subject, audience, delegate) of the seeds.
inline const SigningKey& holder_ed25519() {
    static const SharedSigningKey key = SigningKey::from_ed25519_seed(fixed_secret(101));
    return *key;
}
inline const SigningKey& holder_p256() {
    static const SharedSigningKey key = *SigningKey::from_p256_scalar(fixed_secret(101));
    return *key;
}

// Whether a compact token's signature is one `signer` itself makes over the token's first two
// segments. Both suites sign deterministically; ECDSA verification also accepts (r, n - s), so
// for P-256 only r is compared.
inline bool is_own_signature(const SigningKey& signer, std::string_view token) {
    const std::size_t dot = token.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view input = token.substr(0, dot);
    const SignatureBytes own =
        signer.sign({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
    auto given = b64u_decode(token.substr(dot + 1));
    if (!given || given->size() != own.size()) return false;
    const std::size_t compared = signer.algorithm() == Algorithm::P256 ? 32 : own.size();
    return std::equal(own.begin(), own.begin() + compared, given->begin());
}

}  // namespace vesk::fuzz
