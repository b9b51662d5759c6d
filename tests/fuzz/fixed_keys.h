// The fixed scene of the fuzz targets: keys from fixed secrets (the same AIDs in every run, so
// that saved inputs stay meaningful), the moment at which inputs are judged, and checks that a
// signature is really the one a fixed key makes.
#pragma once

#include <openssl/bn.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <span>
#include <string_view>
#include <utility>

#include "fuzz.h"
#include "vesk/core/base64url.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/openssl_ptr.h"
#include "vesk/crypto/sha256.h"

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

// The key of `suite` from fixed_secret(first), made once.
inline const SigningKey& fixed_key(Algorithm suite, std::uint8_t first) {
    static std::map<std::pair<Algorithm, std::uint8_t>, SharedSigningKey> made;
    SharedSigningKey& key = made[{suite, first}];
    if (!key) {
        key = suite == Algorithm::Ed25519 ? SigningKey::from_ed25519_seed(fixed_secret(first))
                                          : *SigningKey::from_p256_scalar(fixed_secret(first));
    }
    return *key;
}

// Issuers of the seeds' tokens and documents, and holders (their subjects, audiences and
// delegators), in each suite.
inline constexpr Algorithm kSuites[] = {Algorithm::Ed25519, Algorithm::P256};
inline const SigningKey& issuer(Algorithm suite) {
    return fixed_key(suite, 1);
}
inline const SigningKey& holder(Algorithm suite) {
    return fixed_key(suite, 101);
}

// The issuer or holder that `aid` names, if any.
inline const SigningKey* fixed_key_of(const Aid& aid) {
    for (Algorithm suite : kSuites) {
        if (issuer(suite).aid() == aid) return &issuer(suite);
        if (holder(suite).aid() == aid) return &holder(suite);
    }
    return nullptr;
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
    return signature && is_own_signature(signer, as_bytes(token.substr(0, dot)), *signature);
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

// The public half of a fixed 2048-bit RSA key, big-endian.
inline constexpr std::uint8_t kRsaExponent[] = {0x01, 0x00, 0x01};
inline const Bytes& rsa_modulus() {
    static const Bytes n = *b64u_decode(
        "zoJStZoQYe7eunRYOCFIl33eYErCFCdR-HrO6jf3C2MhLL10fZn-v2Z2yDRH1_OgtUl-F4QSdmXKDUUQayWZhw"
        "40zxI0UxGlko2wL_4zjc4lRtkJU861YS4g8cAYjeBhHPSVZJbfuHP8gfZNnUH9sFwsEXZvvdLi-JwHWHkSQnAB"
        "UuQbqfueRG4XWmnoD9jtUujlUXoT9QQuYNteOEO0aX7cTqc2NCysfE1JOBNv2V88fj6UGYi0wdCKabEpLV53aq"
        "C9NBMmoec0nxYe4150TcLDdgv82euOVTgR0lfzqmJG10Ik5KcV81o195idoKbJFTuTde8POo55A6BADnu4TQ");
    return n;
}

// Whether `signature` is an RS256 signature of `message` by the fixed RSA key, checked by the
// textbook: s < n, and s^e mod n is 00 01 FF..FF 00, the SHA-256 DigestInfo, the digest.
inline bool is_rs256_signature(std::span<const std::uint8_t> message,
                               std::span<const std::uint8_t> signature) {
    using BnPtr = OpensslPtr<BIGNUM, BN_free>;
    static constexpr std::uint8_t kDigestInfo[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                                   0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                   0x01, 0x05, 0x00, 0x04, 0x20};
    const Bytes& modulus = rsa_modulus();
    const int size = static_cast<int>(modulus.size());
    if (signature.size() != modulus.size()) return false;
    BnPtr n(BN_bin2bn(modulus.data(), size, nullptr)),
        s(BN_bin2bn(signature.data(), size, nullptr));
    BnPtr e(BN_bin2bn(kRsaExponent, sizeof kRsaExponent, nullptr)), m(BN_new());
    OpensslPtr<BN_CTX, BN_CTX_free> context(BN_CTX_new());
    require(n && s && e && m && context, "numbers are made");
    if (BN_cmp(s.get(), n.get()) >= 0) return false;
    Bytes block(modulus.size());
    require(BN_mod_exp(m.get(), s.get(), e.get(), n.get(), context.get()) == 1 &&
                BN_bn2binpad(m.get(), block.data(), size) == size,
            "the signature is raised to the exponent");
    const Digest digest = sha256(message);
    Bytes expected(modulus.size() - std::size(kDigestInfo) - digest.size(), 0xff);
    expected.front() = 0x00;
    expected[1] = 0x01;
    expected.back() = 0x00;
    expected.insert(expected.end(), std::begin(kDigestInfo), std::end(kDigestInfo));
    expected.insert(expected.end(), digest.begin(), digest.end());
    return block == expected;
}

}  // namespace vesk::fuzz
