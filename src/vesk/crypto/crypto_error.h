// The error of keys, signature texts and compact JWS.
#pragma once

#include <string>

namespace vesk {

struct CryptoError {
    enum class Kind {
        VerificationFailed,
        SignatureParse,
        PublicKeyParse,
        InvalidEd25519Key,
        JwsAlgMismatch,
        JwsTypMismatch,
        JwsMalformed,
    };
    Kind kind;
    std::string detail;    // the expected typ for JwsTypMismatch
    std::string received;  // JwsTypMismatch only

    static CryptoError verification_failed() { return {Kind::VerificationFailed, {}, {}}; }
    static CryptoError signature_parse(std::string d) {
        return {Kind::SignatureParse, std::move(d), {}};
    }
    static CryptoError public_key_parse(std::string d) {
        return {Kind::PublicKeyParse, std::move(d), {}};
    }
    static CryptoError invalid_ed25519_key(std::string d) {
        return {Kind::InvalidEd25519Key, std::move(d), {}};
    }
    static CryptoError jws_alg_mismatch(std::string d) {
        return {Kind::JwsAlgMismatch, std::move(d), {}};
    }
    static CryptoError jws_typ_mismatch(std::string expected, std::string got) {
        return {Kind::JwsTypMismatch, std::move(expected), std::move(got)};
    }
    static CryptoError jws_malformed(std::string d) {
        return {Kind::JwsMalformed, std::move(d), {}};
    }

    std::string text() const;
    friend bool operator==(const CryptoError&, const CryptoError&) = default;
};

}  // namespace vesk
