// The failures of building and checking a Manifest, with their display texts and the stable
// codes Python callers branch on.
#pragma once

#include <string>
#include <string_view>

#include "vesk/crypto/crypto_error.h"

namespace vesk::manifest {

struct ManifestError {
    // The order is the variant number; code() names the first seven, the rest are "malformed".
    enum class Kind {
        Expired,
        SignatureInvalid,
        PopFailed,
        AidMismatch,
        IdentityTypeNotAccepted,
        VersionUnknown,
        IdentityHintMalformed,
        MissingField,
        Canonicalization,
        Crypto,
        Rng,
        UnknownField,
        Malformed,
    };
    Kind kind;
    // The identity type name, hint rule, member name or failure text, by kind.
    std::string detail;
    CryptoError crypto{};  // Crypto only

    static ManifestError of(Kind kind, std::string detail = {}) {
        return {kind, std::move(detail)};
    }
    static ManifestError from_crypto(CryptoError error) {
        return {Kind::Crypto, {}, std::move(error)};
    }

    std::string text() const;
    // "expired", "signature_invalid", ... or "malformed" for every kind without a code.
    std::string_view code() const;

    friend bool operator==(const ManifestError&, const ManifestError&) = default;
};

}  // namespace vesk::manifest
