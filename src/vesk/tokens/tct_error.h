// The error kind of TCT minting and verification, grant vouchers, in-band renewal and
// revocation snapshots.
#pragma once

#include <optional>
#include <string>

#include "vesk/crypto/crypto_error.h"

namespace vesk {

struct TctError {
    // The order is the variant number.
    enum class Kind {
        VersionUnsupported,
        SignatureInvalid,
        IssuerMismatch,
        AudienceMismatch,
        Expired,
        ExceedsManifestExpiry,
        Revoked,
        EmptyGrants,
        GrantWhitespace,  // detail: the grant
        CnfMismatch,
        ClaimsMalformed,   // detail: what is wrong
        UnknownField,      // detail: the member name
        MissingField,      // detail: a fixed field name
        Canonicalization,  // detail: the writer's message
        PopNonceEchoMismatch,
        PopSignatureFailed,
        PopChallengeExpired,
        PopResponseJtiMismatch,
        Crypto,  // crypto: the wrapped error
    };
    Kind kind;
    std::string detail;
    std::optional<CryptoError> crypto;

    static TctError of(Kind kind, std::string detail = {}) { return {kind, std::move(detail), {}}; }
    static TctError claims_malformed(std::string detail) {
        return of(Kind::ClaimsMalformed, std::move(detail));
    }
    static TctError unknown_field(std::string name) {
        return of(Kind::UnknownField, std::move(name));
    }
    static TctError from(CryptoError error) { return {Kind::Crypto, {}, std::move(error)}; }

    std::string text() const;
    friend bool operator==(const TctError&, const TctError&) = default;
};

}  // namespace vesk
