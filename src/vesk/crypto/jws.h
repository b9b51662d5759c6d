// Compact JWS tokens signed by an agent key: a fixed two-member protected header, canonical
// claims, and a 64-byte signature over "header.claims".
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/aid.h"
#include "vesk/core/base64url.h"
#include "vesk/core/json_record.h"
#include "vesk/core/jws_alg.h"
#include "vesk/crypto/crypto_error.h"
#include "vesk/crypto/keys.h"

namespace vesk {

// The protected header as read: exactly `alg` and `typ`, in either order.
struct JwsHeader {
    std::string alg;
    std::string typ;

    // The unverified `typ` of a token's header, or nothing; never fails.
    static std::optional<std::string> parse(std::string_view token);
};

constexpr auto describe_json(std::type_identity<JwsHeader>) {
    return json::record("struct JwsHeader", json::member("alg", &JwsHeader::alg),
                        json::member("typ", &JwsHeader::typ));
}

// The failure of checking a JWT signature against a JWK.
struct JwkSignatureError {
    enum class Kind { AlgMismatch, KeyMaterial, SignatureInvalid };
    Kind kind;
    std::string header_alg;          // AlgMismatch
    JwsAlg key_alg = JwsAlg::EdDSA;  // AlgMismatch
    CryptoError key_error{};         // KeyMaterial

    std::string text() const;
};

namespace jws {

inline constexpr std::string_view kTypTct = "vesk-tct+jwt";
inline constexpr std::string_view kTypGrant = "vesk-grant+jwt";
inline constexpr std::string_view kTypDelegation = "vesk-delegation+jwt";

// Views into a token's text, which must outlive them.
struct Segments {
    std::string_view header;
    std::string_view payload;
    std::string_view signature;

    // "header.payload", as it stands in the token: what the signature covers.
    std::string_view signing_input() const {
        return {header.data(), header.size() + 1 + payload.size()};
    }
};

// The three dot-separated segments, empty ones included; nothing unless there are three.
std::optional<Segments> split_three(std::string_view token);

// Exactly three non-empty segments, else JwsMalformed.
std::expected<Segments, CryptoError> split_compact(std::string_view token);

// A token split, its payload segment decoded; nothing else is looked at.
struct DecodedToken {
    Segments segments;
    Bytes payload;

    std::string_view payload_text() const {
        return {reinterpret_cast<const char*>(payload.data()), payload.size()};
    }
};

std::expected<DecodedToken, CryptoError> decode_payload(std::string_view token);

// {"alg":"EdDSA"|"ES256","typ":<typ>} by the key's suite, assembled from fixed pieces.
std::string protected_header(Algorithm algorithm, std::string_view typ);

// The token over claims that are already in their canonical form.
std::string sign_claims_bytes(const SigningKey& key, std::string_view typ, std::string_view claims);

// The token over the canonical JSON of `claims` (a declared record or a Value); a
// canonicalisation failure is JwsMalformed "claims canonicalization: ...".
template <class Claims>
std::expected<std::string, CryptoError> encode_compact(const SigningKey& key, std::string_view typ,
                                                       const Claims& claims) {
    auto canonical = json::to_canonical_json(claims);
    if (!canonical) {
        return std::unexpected(
            CryptoError::jws_malformed("claims canonicalization: " + canonical.error().text()));
    }
    return sign_claims_bytes(key, typ, *canonical);
}

// Checks the token against the expected signer and type: its header segment (strictly read,
// `typ`, then `alg` for the signer's suite), then the signature; then that the payload is a JSON
// object. Returns the decoded payload bytes.
std::expected<Bytes, CryptoError> verify_compact(const Aid& signer, std::string_view typ,
                                                 std::string_view token);

// The same header and signature checks for a token whose payload decoded already; the payload
// itself is the caller's to check.
std::expected<void, CryptoError> verify_decoded(const Aid& signer, std::string_view typ,
                                                const DecodedToken& token);

}  // namespace jws
}  // namespace vesk
