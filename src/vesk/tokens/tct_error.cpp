#include "vesk/tokens/tct_error.h"

namespace vesk {

std::string TctError::text() const {
    switch (kind) {
        case Kind::VersionUnsupported:
            return "TCT version is not supported";
        case Kind::SignatureInvalid:
            return "TCT signature is invalid";
        case Kind::IssuerMismatch:
            return "TCT issuer does not match the verifying key";
        case Kind::AudienceMismatch:
            return "TCT audience does not match";
        case Kind::Expired:
            return "TCT has expired or is not yet valid";
        case Kind::ExceedsManifestExpiry:
            return "TCT expires_at exceeds issuer Manifest expires_at";
        case Kind::Revoked:
            return "TCT jti is revoked";
        case Kind::EmptyGrants:
            return "TCT grants must be non-empty";
        case Kind::GrantWhitespace:
            return "TCT grant must not contain whitespace: `" + detail + "`";
        case Kind::CnfMismatch:
            return "TCT cnf.jkt does not match the subject key";
        case Kind::ClaimsMalformed:
            return "claims malformed: " + detail;
        case Kind::UnknownField:
            return "unknown field: " + detail;
        case Kind::MissingField:
            return "missing required field: " + detail;
        case Kind::Canonicalization:
            return "canonicalization failed: " + detail;
        case Kind::PopNonceEchoMismatch:
            return "PoP nonce echo mismatch";
        case Kind::PopSignatureFailed:
            return "PoP signature failed";
        case Kind::PopChallengeExpired:
            return "PoP challenge expired";
        case Kind::PopResponseJtiMismatch:
            return "PoP response jti mismatch";
        case Kind::Crypto:
            return crypto ? crypto->text() : std::string();
    }
    return {};
}

}  // namespace vesk
