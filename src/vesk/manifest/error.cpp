#include "vesk/manifest/error.h"

namespace vesk::manifest {

std::string ManifestError::text() const {
    switch (kind) {
        case Kind::Expired:
            return "manifest has expired";
        case Kind::SignatureInvalid:
            return "manifest signature is invalid";
        case Kind::PopFailed:
            return "manifest proof-of-possession failed";
        case Kind::AidMismatch:
            return "manifest aid does not match signing key";
        case Kind::IdentityTypeNotAccepted:
            return "manifest does not accept identity type `" + detail + "`";
        case Kind::VersionUnknown:
            return "manifest version is not supported";
        case Kind::IdentityHintMalformed:
            return "identity_hint malformed: " + detail;
        case Kind::MissingField:
            return "missing required field: " + detail;
        case Kind::Canonicalization:
            return "canonicalization failed: " + detail;
        case Kind::Crypto:
            return crypto.text();
        case Kind::Rng:
            return "rng failure: " + detail;
        case Kind::UnknownField:
            return "unknown field `" + detail + "`";
        case Kind::Malformed:
            return "malformed manifest: " + detail;
    }
    return {};
}

std::string_view ManifestError::code() const {
    switch (kind) {
        case Kind::Expired:
            return "expired";
        case Kind::SignatureInvalid:
            return "signature_invalid";
        case Kind::PopFailed:
            return "pop_failed";
        case Kind::AidMismatch:
            return "aid_mismatch";
        case Kind::IdentityTypeNotAccepted:
            return "incompatible_identity_type";
        case Kind::VersionUnknown:
            return "version_unknown";
        case Kind::IdentityHintMalformed:
            return "identity_hint_malformed";
        default:
            return "malformed";
    }
}

}  // namespace vesk::manifest
