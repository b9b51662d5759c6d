// The failures of the mutual handshake and of issuer key-set resolution, with their texts.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "vesk/crypto/crypto_error.h"
#include "vesk/manifest/error.h"
#include "vesk/tokens/tct_error.h"

namespace vesk::handshake {

struct HandshakeError {
    // The order is the variant number.
    enum class Kind {
        InvalidEnvelope,           // detail
        EnvelopeSignatureInvalid,  //
        IncompatibleTrustAnchors,  //
        ManifestVerification,      // manifest
        IdentityVerification,      // detail
        IssuerKeyResolution,       // issuer, detail (the reason)
        NonceMismatch,
        PopSignatureInvalid,
        InsufficientGrants,
        GrantsExceedOffered,
        TctVerification,  // tct
        Crypto,           // crypto
        State,            // detail
        Rng,              // detail
        PolicyDenied,
        Canonicalization,  // detail
        UnknownField,      // detail
    };
    Kind kind;
    std::string detail;
    std::string issuer;
    std::optional<manifest::ManifestError> manifest;
    std::optional<TctError> tct;
    std::optional<CryptoError> crypto;

    static HandshakeError of(Kind kind, std::string detail = {}) {
        return {kind, std::move(detail), {}, {}, {}, {}};
    }
    static HandshakeError invalid_envelope(std::string detail) {
        return of(Kind::InvalidEnvelope, std::move(detail));
    }
    static HandshakeError identity(std::string detail) {
        return of(Kind::IdentityVerification, std::move(detail));
    }
    static HandshakeError issuer_key_resolution(std::string issuer, std::string reason) {
        return {Kind::IssuerKeyResolution, std::move(reason), std::move(issuer), {}, {}, {}};
    }
    static HandshakeError state(std::string detail) { return of(Kind::State, std::move(detail)); }
    static HandshakeError from(manifest::ManifestError error) {
        return {Kind::ManifestVerification, {}, {}, std::move(error), {}, {}};
    }
    static HandshakeError from(TctError error) {
        return {Kind::TctVerification, {}, {}, {}, std::move(error), {}};
    }
    static HandshakeError from(CryptoError error) {
        return {Kind::Crypto, {}, {}, {}, {}, std::move(error)};
    }

    std::string text() const;
    friend bool operator==(const HandshakeError&, const HandshakeError&) = default;
};

// Why an issuer's keys could not be had.
struct JwksResolveError {
    enum class Kind {
        IssuerNotTrusted,  // detail: the normalised issuer URL
        Resolve,           // detail
        MalformedJwks,     // detail
        NoPinnedKeysNoSafeGrants,
        SoftFailNeedsResolveOutcome,
    };
    Kind kind;
    std::string detail;

    std::string text() const;
    friend bool operator==(const JwksResolveError&, const JwksResolveError&) = default;
};

}  // namespace vesk::handshake
