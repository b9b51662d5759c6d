#include "vesk/crypto/crypto_error.h"

#include "vesk/core/fault.h"

namespace vesk {

std::string CryptoError::text() const {
    switch (kind) {
        case Kind::VerificationFailed:
            return "signature verification failed";
        case Kind::SignatureParse:
            return "signature parsing failed: " + detail;
        case Kind::PublicKeyParse:
            return "public key parsing failed: " + detail;
        case Kind::InvalidEd25519Key:
            return "AID does not yield a valid Ed25519 public key: " + detail;
        case Kind::JwsAlgMismatch:
            return "JWS alg header does not match the signer AID's algorithm: " + detail;
        case Kind::JwsTypMismatch:
            return "JWS typ header mismatch: expected " + detail + ", got " + received;
        case Kind::JwsMalformed:
            return "compact JWS malformed: " + detail;
    }
    fault("unknown CryptoError kind");
}

}  // namespace vesk
