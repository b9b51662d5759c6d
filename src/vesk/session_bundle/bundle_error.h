// The error of building and verifying session trust bundles.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vesk/crypto/crypto_error.h"
#include "vesk/tokens/tct_error.h"

namespace vesk::session_bundle {

struct BundleError {
    enum class Kind {
        VersionMismatch,
        SignatureInvalid,
        Expired,
        ExpiresAtMismatch,
        IssuerMismatch,
        AudienceMismatch,
        VerifierNotMember,
        MissingField,  // detail: the member name
        EmptyParticipants,
        Canonicalization,  // detail: what failed
        TctVerification,   // tct: the token error
        Crypto,            // crypto: the key error
        WireForm,          // detail: what is wrong
        UnknownField,      // detail: the member name
    };
    Kind kind;
    std::string detail;
    std::optional<TctError> tct;
    std::optional<CryptoError> crypto;

    static BundleError of(Kind kind, std::string detail = {}) {
        return {kind, std::move(detail), std::nullopt, std::nullopt};
    }
    static BundleError canonicalization(std::string detail) {
        return of(Kind::Canonicalization, std::move(detail));
    }
    static BundleError from(TctError error) {
        return {Kind::TctVerification, {}, std::move(error), std::nullopt};
    }
    static BundleError from(CryptoError error) {
        return {Kind::Crypto, {}, std::nullopt, std::move(error)};
    }

    std::string text() const;
    friend bool operator==(const BundleError&, const BundleError&) = default;
};

}  // namespace vesk::session_bundle
