// The error kind of building and verifying delegation tokens.
#pragma once

#include <optional>
#include <string>

#include "vesk/crypto/crypto_error.h"

namespace vesk {

struct DelegationError {
    enum class Kind {
        AudienceMismatch,
        ScopeExceedsGrant,
        VoucherInvalid,
        SourceRevoked,
        SignatureInvalid,
        Expired,
        PopFailed,
        CnfMalformed,
        UnsupportedVersion,
        ClaimsMalformed,  // detail: what is wrong
        MultiHopNotSupported,
        HopLimitExceeded,
        ChainHashMismatch,
        SelfDelegation,
        EmptyScope,
        MissingField,      // detail: a fixed field name
        Canonicalization,  // detail: the writer's message
        Crypto,            // crypto: the wrapped error
        UnknownField,      // detail: the member name
    };
    Kind kind;
    std::string detail;
    std::optional<CryptoError> crypto;

    static DelegationError of(Kind kind, std::string detail = {}) {
        return {kind, std::move(detail), {}};
    }
    static DelegationError claims_malformed(std::string detail) {
        return of(Kind::ClaimsMalformed, std::move(detail));
    }
    static DelegationError unknown_field(std::string name) {
        return of(Kind::UnknownField, std::move(name));
    }
    static DelegationError from(CryptoError error) { return {Kind::Crypto, {}, std::move(error)}; }

    std::string text() const;
    friend bool operator==(const DelegationError&, const DelegationError&) = default;
};

}  // namespace vesk
