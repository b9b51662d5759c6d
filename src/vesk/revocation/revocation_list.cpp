#include "vesk/revocation/revocation_list.h"

#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::revocation {

std::expected<std::string, TctError> signing_bytes(const RevocationList& list) {
    auto bytes = json::to_canonical_json(list);
    if (!bytes) {
        return std::unexpected(
            TctError::of(TctError::Kind::Canonicalization, bytes.error().text()));
    }
    return std::move(*bytes);
}

std::expected<RevocationListEnvelope, TctError> sign(RevocationList list, const SigningKey& key) {
    auto bytes = signing_bytes(list);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    std::string signature = sign_digest_to_text(key, sha256(*bytes));
    return RevocationListEnvelope{std::move(list), std::move(signature)};
}

std::expected<void, TctError> verify(const RevocationListEnvelope& envelope,
                                     const Aid& expected_issuer, std::int64_t now) {
    using Kind = TctError::Kind;
    const RevocationList& list = envelope.revocation_list;
    if (list.version != kProtocolVersion) {
        return std::unexpected(TctError::of(Kind::VersionUnsupported));
    }
    if (list.expires_at < now) return std::unexpected(TctError::of(Kind::Expired));
    // Two AID forms of one key are different issuers.
    if (list.issuer.as_str() != expected_issuer.as_str()) {
        return std::unexpected(TctError::of(Kind::IssuerMismatch));
    }
    auto key = VerifyingKey::from_aid(list.issuer);
    if (!key) return std::unexpected(TctError::from(std::move(key.error())));
    auto signature = SignatureText::parse(envelope.signature);
    if (!signature) return std::unexpected(TctError::of(Kind::SignatureInvalid));
    auto bytes = signing_bytes(list);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (!verify_signature_text(*key, sha256(*bytes), *signature)) {
        return std::unexpected(TctError::of(Kind::SignatureInvalid));
    }
    return {};
}

std::string_view error_code(const TctError& error) {
    switch (error.kind) {
        case TctError::Kind::VersionUnsupported:
            return "version_unknown";
        case TctError::Kind::SignatureInvalid:
            return "signature_invalid";
        case TctError::Kind::IssuerMismatch:
            return "issuer_mismatch";
        case TctError::Kind::Expired:
            return "expired";
        default:
            return "malformed";
    }
}

}  // namespace vesk::revocation
