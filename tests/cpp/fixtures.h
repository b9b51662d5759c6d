// Test fixtures: keys from fixed seeds, hand-made compact tokens and claim sets, and agents
// with signed Manifests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_data.h"
#include "vesk/core/base64url.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/thumbprint.h"
#include "vesk/manifest/builder.h"

namespace vesk::testing {

inline SharedSigningKey ed25519_key(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed;
    seed.fill(fill);
    return SigningKey::from_ed25519_seed(seed);
}

inline SharedSigningKey p256_key(std::uint8_t fill) {
    std::array<std::uint8_t, 32> scalar;
    scalar.fill(fill);
    return *SigningKey::from_p256_scalar(scalar);
}

// A compact token over exactly these header and payload texts; `sign` turns the signing input
// into signature bytes.
std::string forge_with(const auto& sign, std::string_view header, std::string_view payload) {
    const std::string input = b64u_encode(header) + "." + b64u_encode(payload);
    return input + "." + b64u_encode(sign(input));
}

inline std::string forge(const SigningKey& key, std::string_view header, std::string_view payload) {
    return forge_with([&](std::string_view input) { return key.sign(test::as_bytes(input)); },
                      header, payload);
}

// A compact token over exactly this payload text, with the header of `key`'s suite.
inline std::string sign_token(const SigningKey& key, std::string_view typ,
                              std::string_view payload) {
    const std::string alg = key.algorithm() == Algorithm::P256 ? "ES256" : "EdDSA";
    return forge(key, R"({"alg":")" + alg + R"(","typ":")" + std::string(typ) + R"("})", payload);
}

// "ok", or the text of the result's error.
inline std::string outcome(const auto& result) {
    return result ? std::string("ok") : result.error().text();
}

// The token with one character of its signature changed.
inline std::string tampered(std::string token) {
    char& c = token[token.size() - 3];
    c = c == 'A' ? 'B' : 'A';
    return token;
}

inline std::string json_str(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

inline constexpr std::string_view kJti = "0b6f0e6c-3c2a-4d7e-9b1a-5f0c2d3e4f50";

// A claim set as raw member texts in writing order, so tests can add, drop, repeat or
// misspell members.
struct RawClaims {
    std::vector<std::pair<std::string, std::string>> members;

    RawClaims& set(std::string_view name, std::string raw) {
        for (auto& [n, v] : members) {
            if (n == name) {
                v = std::move(raw);
                return *this;
            }
        }
        return add(name, std::move(raw));
    }
    RawClaims& add(std::string_view name, std::string raw) {
        members.emplace_back(name, std::move(raw));
        return *this;
    }
    std::string text() const {
        std::string out = "{";
        for (const auto& [name, raw] : members)
            out += (out.size() > 1 ? ",\"" : "\"") + name + "\":" + raw;
        return out + "}";
    }
};

inline RawClaims tct_claims(const SigningKey& issuer, const SigningKey& holder, std::int64_t iat,
                            std::int64_t exp) {
    RawClaims claims;
    claims.set("ver", json_str("vesk/0.2"))
        .set("jti", json_str(kJti))
        .set("iss", json_str(issuer.aid().as_str()))
        .set("sub", json_str(holder.aid().as_str()))
        .set("aud", json_str(holder.aid().as_str()))
        .set("iat", std::to_string(iat))
        .set("exp", std::to_string(exp))
        .set("grants", R"(["read","write"])")
        .set("cnf", "{\"jkt\":" + json_str(jwk_thumbprint(holder.verifying_key())) + "}");
    return claims;
}

struct TestAgent {
    SharedSigningKey key;
    manifest::Manifest manifest;
};

// An agent whose Manifest was issued at 1700000000 and lives a day; with an OIDC issuer, its
// identity is OIDC and the issuer its one trust anchor, else its (Ed25519) key is pinned.
inline TestAgent make_agent(SharedSigningKey key, std::optional<std::string> oidc_issuer = {}) {
    manifest::ManifestBuilder builder(*key);
    builder.issued_at = 1700000000;
    builder.handshake_endpoint = "https://agent.example/vesk/handshake/hello";
    if (oidc_issuer) {
        builder.identity_hint =
            manifest::IdentityHint{manifest::IdentityType::Oidc, "agent-subject", *oidc_issuer, {}};
        builder.trust_anchors = {*oidc_issuer};
    } else {
        builder.identity_hint =
            manifest::IdentityHint{manifest::IdentityType::PinnedKey,
                                   "agent-subject",
                                   {},
                                   b64u_encode(key->ed25519_public_key().value())};
    }
    auto built = manifest::build_signed_manifest(builder);
    if (!built) ADD_FAILURE() << built.error().text();
    return {key, *built};
}

}  // namespace vesk::testing
