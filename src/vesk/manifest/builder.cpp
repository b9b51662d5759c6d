#include "vesk/manifest/builder.h"

#include <array>
#include <utility>

#include "vesk/core/base64url.h"
#include "vesk/core/clock.h"
#include "vesk/core/protocol.h"
#include "vesk/core/random.h"
#include "vesk/core/saturating.h"
#include "vesk/core/url.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/manifest/verifier.h"

namespace vesk::manifest {
namespace {

ManifestPop prove_possession(const SigningKey& key) {
    std::array<std::uint8_t, 16> challenge{};
    random_bytes(challenge);
    return ManifestPop{b64u_encode(challenge), sign_digest_to_text(key, sha256(challenge))};
}

using RequestKind = ManifestRequestError::Kind;

std::unexpected<ManifestRequestError> request_error(RequestKind kind, std::string detail = {}) {
    return std::unexpected(ManifestRequestError{kind, std::move(detail)});
}

}  // namespace

std::expected<Manifest, ManifestError> build_signed_manifest(ManifestBuilder builder) {
    using enum ManifestError::Kind;
    if (!builder.handshake_endpoint) {
        return std::unexpected(ManifestError::of(MissingField, "handshake_endpoint"));
    }
    if (!builder.identity_hint) {
        return std::unexpected(ManifestError::of(MissingField, "identity_hint"));
    }
    if (auto checked = check_identity_hint(*builder.identity_hint); !checked) {
        return std::unexpected(checked.error());
    }
    const std::int64_t published_at = builder.issued_at ? *builder.issued_at : unix_now();

    Manifest manifest{
        .version = std::string(kProtocolVersion),
        .aid = builder.key.aid(),
        .display_name = std::move(builder.display_name),
        .identity_hint = std::move(*builder.identity_hint),
        .handshake_endpoint = std::move(*builder.handshake_endpoint),
        .accepted_trust_anchors = std::move(builder.trust_anchors),
        .accepted_identity_types = std::move(builder.accepted_identity_types),
        .accepted_signature_algorithms = std::nullopt,
        .offered_capabilities = std::move(builder.offered_capabilities),
        .required_peer_capabilities = std::move(builder.required_capabilities),
        .proof_of_possession = prove_possession(builder.key),
        .published_at = published_at,
        .expires_at = sat_add(published_at, builder.lifetime_secs),
        .extensions = std::nullopt,
        .signature = {},
    };

    auto bytes = canonical_bytes(manifest);
    if (!bytes) return std::unexpected(bytes.error());
    manifest.signature = sign_digest_to_text(builder.key, sha256(*bytes));
    return manifest;
}

std::string ManifestRequestError::text() const {
    switch (kind) {
        case RequestKind::HandshakeEndpointUrl:
            return "invalid handshake_endpoint URL: " + detail;
        case RequestKind::UnknownIdentityType:
            return "unknown identity_type '" + detail + "': expected 'pinned_key' or 'oidc'";
        case RequestKind::PinnedKeyNeedsEd25519:
            return "pinned_key identity_hint with a P-256 agent key is not supported; the "
                   "manifest's identity_hint.public_key is Ed25519-only in v0.1";
        case RequestKind::OidcIssuerMissing:
            return "oidc_issuer is required when identity_type='oidc'";
        case RequestKind::OidcSubjectMissing:
            return "oidc_subject is required when identity_type='oidc'";
        case RequestKind::OidcIssuerUrl:
            return "invalid oidc_issuer URL: " + detail;
        case RequestKind::TrustAnchorUrl:
            return "invalid accepted_trust_anchors URL: " + detail;
        case RequestKind::BuildFailed:
            return "manifest build failed: " + build.text();
    }
    return {};
}

std::expected<Manifest, ManifestRequestError> build_agent_manifest(const SigningKey& key,
                                                                   const ManifestRequest& request) {
    auto endpoint = parse_url(request.handshake_endpoint);
    if (!endpoint) return request_error(RequestKind::HandshakeEndpointUrl, endpoint.error().text());

    IdentityHint hint{};
    std::vector<std::string> default_anchors;
    if (request.identity_type == "pinned_key") {
        auto public_key = key.ed25519_public_key();
        if (!public_key) return request_error(RequestKind::PinnedKeyNeedsEd25519);
        hint = {IdentityType::PinnedKey, request.display_name, std::nullopt,
                b64u_encode(*public_key)};
    } else if (request.identity_type == "oidc") {
        if (!request.oidc_issuer) return request_error(RequestKind::OidcIssuerMissing);
        if (!request.oidc_subject) return request_error(RequestKind::OidcSubjectMissing);
        auto issuer = parse_url(*request.oidc_issuer);
        if (!issuer) return request_error(RequestKind::OidcIssuerUrl, issuer.error().text());
        hint = {IdentityType::Oidc, *request.oidc_subject, issuer->href(), std::nullopt};
        default_anchors.push_back(issuer->href());
    } else {
        return request_error(RequestKind::UnknownIdentityType, request.identity_type);
    }

    ManifestBuilder builder(key);
    builder.display_name = request.display_name;
    builder.handshake_endpoint = endpoint->href();
    builder.accepted_identity_types = std::vector{std::string(name(hint.type))};
    builder.identity_hint = std::move(hint);
    builder.lifetime_secs = request.ttl_secs.value_or(3600);

    if (request.accepted_trust_anchors) {
        for (const std::string& anchor : *request.accepted_trust_anchors) {
            auto url = parse_url(anchor);
            if (!url) return request_error(RequestKind::TrustAnchorUrl, url.error().text());
            builder.trust_anchors.push_back(url->href());
        }
    } else {
        builder.trust_anchors = std::move(default_anchors);
    }
    builder.offered_capabilities = request.offered_caps;
    if (request.required_caps && !request.required_caps->empty()) {
        builder.required_capabilities = request.required_caps;
    }

    auto manifest = build_signed_manifest(std::move(builder));
    if (!manifest) {
        return std::unexpected(
            ManifestRequestError{RequestKind::BuildFailed, {}, std::move(manifest.error())});
    }
    return std::move(*manifest);
}

}  // namespace vesk::manifest
