#include "vesk/session_bundle/bundle_error.h"

#include "vesk/core/fault.h"

namespace vesk::session_bundle {

std::string BundleError::text() const {
    switch (kind) {
        case Kind::VersionMismatch:
            return "bundle version mismatch";
        case Kind::SignatureInvalid:
            return "bundle signature is invalid";
        case Kind::Expired:
            return "bundle has expired";
        case Kind::ExpiresAtMismatch:
            return "bundle expires_at does not equal min(participant TCT expiries)";
        case Kind::IssuerMismatch:
            return "participant TCT issuer does not match coordinator";
        case Kind::AudienceMismatch:
            return "participant TCT audience does not match entry AID";
        case Kind::VerifierNotMember:
            return "verifier is not a member of this bundle";
        case Kind::MissingField:
            return "missing required field: " + detail;
        case Kind::EmptyParticipants:
            return "participants array is empty";
        case Kind::Canonicalization:
            return "canonicalization failed: " + detail;
        case Kind::TctVerification:
            if (!tct) fault("a participant TCT error carries no token error");
            return "participant TCT verification failed: " + tct->text();
        case Kind::Crypto:
            if (!crypto) fault("a bundle key error carries no crypto error");
            return crypto->text();
        case Kind::WireForm:
            return "session bundle wire form is invalid: " + detail;
        case Kind::UnknownField:
            return "unknown field: " + detail;
    }
    fault("unknown BundleError kind");
}

}  // namespace vesk::session_bundle
