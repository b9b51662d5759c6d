// The fixed scene of the OIDC target: an identity provider with an Ed25519, a P-256 and an RSA
// key, whose tokens name a peer agent and are addressed to this agent.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fuzz_keys.h"
#include "fuzz_rsa_key.h"
#include "vesk/core/url.h"
#include "vesk/handshake/jwks.h"

namespace vesk::fuzz {

inline constexpr std::string_view kIdpIssuer = "https://issuer.example/";
inline constexpr std::string_view kIdpNonce = "AAAAAAAAAAAAAAAAAAAAAA";

inline const SigningKey& idp_ed25519() {
    static const SharedSigningKey key = SigningKey::from_ed25519_seed(fixed_secret(201));
    return *key;
}

// The provider's keys: "ed" (OKP), "ec" (P-256, the issuer_p256 key) and "rsa".
inline std::vector<handshake::Jwk> idp_keys() {
    using handshake::Jwk;
    using handshake::JwkKeyMaterial;
    const auto point = *issuer_p256().verifying_key().p256_uncompressed();
    JwkKeyMaterial::Ec ec{};
    std::copy(point.begin() + 1, point.begin() + 33, ec.x.begin());
    std::copy(point.begin() + 33, point.end(), ec.y.begin());
    const TestRsaKey& rsa = test_rsa_key();
    return {Jwk{"ed", {JwkKeyMaterial::Okp{*idp_ed25519().ed25519_public_key()}}}, Jwk{"ec", {ec}},
            Jwk{"rsa", {JwkKeyMaterial::Rsa{rsa.modulus, rsa.exponent}}}};
}

}  // namespace vesk::fuzz
