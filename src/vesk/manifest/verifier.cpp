#include "vesk/manifest/verifier.h"

#include "vesk/core/base64url.h"
#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::manifest {
namespace {

std::unexpected<ManifestError> fail(ManifestError::Kind kind, std::string detail = {}) {
    return std::unexpected(ManifestError::of(kind, std::move(detail)));
}

bool signature_holds(const VerifyingKey& key, const Digest& digest, std::string_view text) {
    auto parsed = SignatureText::parse(text);
    return parsed && verify_signature_text(key, digest, *parsed);
}

}  // namespace

std::expected<void, ManifestError> check_identity_hint(const IdentityHint& hint) {
    using enum ManifestError::Kind;
    if (hint.type == IdentityType::PinnedKey && !hint.public_key) {
        return fail(IdentityHintMalformed, "pinned_key requires `public_key`");
    }
    if (hint.type == IdentityType::Oidc && !hint.issuer) {
        return fail(IdentityHintMalformed, "oidc requires `issuer`");
    }
    if (hint.type == IdentityType::Oidc && hint.public_key) {
        return fail(IdentityHintMalformed, "oidc must not include `public_key`");
    }
    return {};
}

std::expected<VerifyingKey, ManifestError> verify_manifest(const Manifest& manifest,
                                                           std::int64_t now) {
    using enum ManifestError::Kind;
    if (manifest.version != kProtocolVersion) return fail(VersionUnknown);
    if (manifest.expires_at < now) return fail(Expired);

    auto key = VerifyingKey::from_aid(manifest.aid);
    if (!key) return std::unexpected(ManifestError::from_crypto(key.error()));
    auto bytes = canonical_bytes(manifest);
    if (!bytes) return std::unexpected(bytes.error());
    if (!signature_holds(*key, sha256(*bytes), manifest.signature)) return fail(SignatureInvalid);

    const ManifestPop& pop = manifest.proof_of_possession;
    auto challenge = b64u_decode(pop.challenge);
    if (!challenge || !signature_holds(*key, sha256(*challenge), pop.signature)) {
        return fail(PopFailed);
    }

    if (auto hint = check_identity_hint(manifest.identity_hint); !hint) {
        return std::unexpected(hint.error());
    }
    return *key;
}

}  // namespace vesk::manifest
