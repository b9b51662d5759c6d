// Checking an OIDC identity token: a JWT from a trusted issuer, signed by one of the issuer's
// keys, naming the peer as subject, addressed to this agent, carrying the peer's nonce and
// bound to the peer's key by `cnf.jkt`.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json_record.h"
#include "vesk/crypto/jws.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/jwk.h"
#include "vesk/handshake/jwks.h"
#include "vesk/handshake/messages.h"

namespace vesk::handshake {

inline constexpr std::int64_t kOidcIatToleranceSecs = 300;

struct OidcVerifyOptions {
    const Aid& own_aid;
    std::string_view pop_nonce;
    const std::vector<std::string>& trust_anchors;
    const JwksResolver& resolver;
    const Aid& peer_aid;
    std::int64_t iat_tolerance_secs = kOidcIatToleranceSecs;
    std::int64_t now = 0;
};

// The token's protected header; members other than these are skipped.
struct JwtHeader {
    std::string alg;
    std::optional<std::string> kid;
};

// One audience or a list of them.
struct Aud {
    std::variant<std::string, std::vector<std::string>> value;
    bool contains(std::string_view audience) const;
};

}  // namespace vesk::handshake

// A text, else a list of texts, else neither. The mismatch carries no position of its own: the
// enclosing record gives it the one where that record ends.
template <>
struct vesk::json::Codec<vesk::handshake::Aud> {
    static Result<handshake::Aud> read(TextReader& r);
};

namespace vesk::handshake {

struct OidcCnf {
    std::string jkt;
};

// The token's claims; other claims are skipped.
struct OidcClaims {
    std::string iss;
    std::string sub;
    Aud aud;
    std::int64_t iat = 0;
    std::int64_t exp = 0;
    std::optional<std::string> nonce;
    std::optional<OidcCnf> cnf;
};

// Read leniently, as identity providers write them: unknown members skipped; repeated, missing
// or ill-typed members, and anything after the value, refused with positioned errors.
constexpr auto describe_json(std::type_identity<JwtHeader>) {
    return json::open_record("struct JwtHeader", json::member("alg", &JwtHeader::alg),
                             json::member("kid", &JwtHeader::kid));
}

constexpr auto describe_json(std::type_identity<OidcCnf>) {
    return json::open_record("struct Cnf", json::member("jkt", &OidcCnf::jkt));
}

constexpr auto describe_json(std::type_identity<OidcClaims>) {
    using C = OidcClaims;
    return json::open_record("struct OidcClaims", json::member("iss", &C::iss),
                             json::member("sub", &C::sub), json::member("aud", &C::aud),
                             json::member("iat", &C::iat), json::member("exp", &C::exp),
                             json::member("nonce", &C::nonce), json::member("cnf", &C::cnf));
}

// The first key whose kid equals the header's, or the first without a kid when the header has
// none; failing that, the only key when there is exactly one and the header has no kid.
const Jwk* find_jwk_by_kid(const std::vector<Jwk>& keys, const std::optional<std::string>& kid);

// The header alg must name the key's algorithm; the key material decides the check.
std::expected<void, JwkSignatureError> verify_jwt_signature(
    const Jwk& key, std::string_view header_alg, std::span<const std::uint8_t> input,
    std::span<const std::uint8_t> signature);

std::expected<void, HandshakeError> verify_oidc_identity(const IdentityDescriptor& identity,
                                                         const OidcVerifyOptions& options);

}  // namespace vesk::handshake
