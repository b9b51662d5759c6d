// Shared fixtures of the handshake tests: agents with signed Manifests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tct_support.h"
#include "vesk/crypto/keys.h"
#include "vesk/manifest/builder.h"
#include "vesk/manifest/model.h"

namespace vesk::testing {

struct TestAgent {
    SharedSigningKey key;
    manifest::Manifest manifest;
};

// An agent whose Manifest was issued at `issued_at` and lives a day.
inline TestAgent make_agent(SharedSigningKey key, std::optional<std::string> oidc_issuer = {},
                            std::int64_t issued_at = 1700000000) {
    manifest::ManifestBuilder builder(*key);
    builder.issued_at = issued_at;
    builder.display_name = "agent";
    builder.handshake_endpoint = "https://agent.example/vesk/handshake/hello";
    builder.offered_capabilities = {"read", "write"};
    if (oidc_issuer) {
        builder.identity_hint =
            manifest::IdentityHint{manifest::IdentityType::Oidc, "agent-subject", *oidc_issuer, {}};
        builder.trust_anchors = {*oidc_issuer};
    } else {
        auto raw = key->ed25519_public_key();
        builder.identity_hint = manifest::IdentityHint{
            manifest::IdentityType::PinnedKey,
            "agent-subject",
            {},
            raw ? std::optional(b64u_encode(*raw)) : std::optional<std::string>("x")};
    }
    auto built = manifest::build_signed_manifest(builder);
    if (!built) ADD_FAILURE() << built.error().text();
    return {key, *built};
}

}  // namespace vesk::testing
