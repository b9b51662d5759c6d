// Building and signing a Manifest: the builder's settings, the signed Manifest they give, and
// the agent-level request with its argument rules.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "vesk/crypto/keys.h"
#include "vesk/manifest/error.h"
#include "vesk/manifest/model.h"

namespace vesk::manifest {

struct ManifestBuilder {
    explicit ManifestBuilder(const SigningKey& signing_key) : key(signing_key) {}

    const SigningKey& key;
    std::optional<std::int64_t> issued_at;  // absent: the clock is read
    std::int64_t lifetime_secs = 86400;
    std::optional<std::string> display_name;
    std::optional<std::string> handshake_endpoint;
    std::optional<IdentityHint> identity_hint;
    std::vector<std::string> trust_anchors;
    std::vector<std::string> offered_capabilities;
    std::optional<std::vector<std::string>> accepted_identity_types;
    std::optional<std::vector<std::string>> required_capabilities;
};

// Checks the settings, draws the proof of possession, stamps the times and signs.
std::expected<Manifest, ManifestError> build_signed_manifest(ManifestBuilder builder);

// What an agent asks for when it builds its Manifest.
struct ManifestRequest {
    std::string display_name;
    std::string handshake_endpoint;
    std::vector<std::string> offered_caps;
    std::optional<std::vector<std::string>> required_caps;
    std::optional<std::int64_t> ttl_secs;  // absent: 3600
    std::string identity_type = "pinned_key";
    std::optional<std::string> oidc_issuer;
    std::optional<std::string> oidc_subject;
    std::optional<std::vector<std::string>> accepted_trust_anchors;  // absent: by identity type
};

struct ManifestRequestError {
    enum class Kind {
        HandshakeEndpointUrl,
        UnknownIdentityType,
        PinnedKeyNeedsEd25519,
        OidcIssuerMissing,
        OidcSubjectMissing,
        OidcIssuerUrl,
        TrustAnchorUrl,
        BuildFailed,
    };
    Kind kind;
    std::string detail;     // the URL error text or the identity type as given
    ManifestError build{};  // BuildFailed only

    std::string text() const;
};

// Applies the request's rules in order and builds the signed Manifest.
std::expected<Manifest, ManifestRequestError> build_agent_manifest(const SigningKey& key,
                                                                   const ManifestRequest& request);

}  // namespace vesk::manifest
