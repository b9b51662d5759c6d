#include "vesk/handshake/error.h"

#include "vesk/core/fault.h"

namespace vesk::handshake {

std::string HandshakeError::text() const {
    switch (kind) {
        case Kind::InvalidEnvelope:
            return "invalid envelope: " + detail;
        case Kind::EnvelopeSignatureInvalid:
            return "envelope signature invalid";
        case Kind::IncompatibleTrustAnchors:
            return "incompatible trust anchors";
        case Kind::ManifestVerification:
            return "manifest verification failed: " + (manifest ? manifest->text() : "");
        case Kind::IdentityVerification:
            return "identity verification failed: " + detail;
        case Kind::IssuerKeyResolution:
            return "issuer key resolution failed for " + issuer + ": " + detail;
        case Kind::NonceMismatch:
            return "nonce mismatch";
        case Kind::PopSignatureInvalid:
            return "pop signature verification failed";
        case Kind::InsufficientGrants:
            return "insufficient grants in peer-issued TCT";
        case Kind::GrantsExceedOffered:
            return "peer-issued TCT grants exceed the issuer's offered_capabilities";
        case Kind::TctVerification:
            return "TCT verification failed: " + (tct ? tct->text() : "");
        case Kind::Crypto:
            return crypto ? crypto->text() : "";
        case Kind::State:
            return "handshake state error: " + detail;
        case Kind::Rng:
            return "rng failure: " + detail;
        case Kind::PolicyDenied:
            return "policy denies handshake (empty grant intersection)";
        case Kind::Canonicalization:
            return "canonicalization failed: " + detail;
        case Kind::UnknownField:
            return "unknown field: " + detail;
    }
    fault("unknown HandshakeError kind");
}

std::string JwksResolveError::text() const {
    switch (kind) {
        case Kind::IssuerNotTrusted:
            return "issuer not trusted: " + detail;
        case Kind::Resolve:
            return "could not resolve issuer keys: " + detail;
        case Kind::MalformedJwks:
            return "malformed JWKS: " + detail;
        case Kind::NoPinnedKeysNoSafeGrants:
            return "no pinned keys available and SoftFail has no safe_grants";
        case Kind::SoftFailNeedsResolveOutcome:
            return "SoftFail degradation requires resolve_outcome(); plain resolve() fails closed";
    }
    fault("unknown JwksResolveError kind");
}

}  // namespace vesk::handshake
