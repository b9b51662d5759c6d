#include "vesk/handshake/oidc.h"

#include <algorithm>
#include <array>
#include <utility>

#include "vesk/core/base64url.h"
#include "vesk/core/json_reader.h"
#include "vesk/core/json_record.h"
#include "vesk/core/url.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/rsa.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk::handshake {
namespace {

// ---- Lenient records ----------------------------------------------------------------------

// Reads an object (unknown members skipped, optional ones may be missing) or a positional
// array of exactly N members. `read_member(i)` reads member i's value where the reader stands.
template <std::size_t N, class ReadMember>
json::Result<void> read_open_record(json::TextReader& r, std::string_view expecting,
                                    const std::array<std::string_view, N>& names,
                                    const std::array<bool, N>& optional, ReadMember&& read_member) {
    auto on_object = [&]() -> json::Result<void> {
        std::array<bool, N> seen{};
        bool first = true;
        std::string key;
        for (;;) {
            auto more = r.next_key(first, key);
            if (!more) return std::unexpected(more.error());
            if (!*more) break;
            auto i = static_cast<std::size_t>(std::ranges::find(names, key) - names.begin());
            if (i < N && seen[i]) return std::unexpected(json::duplicate_field(key));
            if (auto c = r.colon(); !c) return c;
            if (i == N) {
                if (auto skipped = r.read_value(); !skipped)
                    return std::unexpected(skipped.error());
                continue;
            }
            seen[i] = true;
            if (auto done = read_member(i); !done) return done;
        }
        for (std::size_t i = 0; i < N; ++i) {
            if (!seen[i] && !optional[i]) return std::unexpected(json::missing_field(names[i]));
        }
        return {};
    };
    auto on_array = [&]() -> json::Result<void> {
        bool first = true;
        for (std::size_t i = 0; i < N; ++i) {
            auto more = r.next_element(first);
            if (!more) return std::unexpected(more.error());
            if (!*more) {
                return std::unexpected(
                    json::invalid_length(i, std::string(expecting) + " with " + std::to_string(N) +
                                                (N == 1 ? " element" : " elements")));
            }
            if (auto done = read_member(i); !done) return done;
        }
        return {};
    };
    return r.read_record(expecting, on_array, on_object);
}

// Reads `T` into `out`, failing with the reader's error.
template <class T>
json::Result<void> read_into(json::TextReader& r, std::optional<T>& out) {
    auto value = json::read_text<T>(r);
    if (!value) return std::unexpected(value.error());
    out = std::move(*value);
    return {};
}

json::Result<OidcCnf> read_cnf(json::TextReader& r) {
    std::optional<std::string> jkt;
    auto done = read_open_record<1>(r, "struct Cnf", {"jkt"}, {false},
                                    [&](std::size_t) { return read_into(r, jkt); });
    if (!done) return std::unexpected(done.error());
    return OidcCnf{std::move(*jkt)};
}

// A text, else a list of texts, else neither. The mismatch carries no position of its own:
// the enclosing record gives it the one where that record ends.
json::Result<Aud> read_aud(json::TextReader& r) {
    auto value = r.read_value();
    if (!value) return std::unexpected(value.error());
    if (auto single = json::from_value<std::string>(*value)) return Aud{std::move(*single)};
    if (auto list = json::from_value<std::vector<std::string>>(*value))
        return Aud{std::move(*list)};
    return std::unexpected(json::Error{"data did not match any variant of untagged enum Aud"});
}

template <class T, class Read>
json::Result<T> read_whole(std::span<const std::uint8_t> bytes, Read&& read) {
    json::TextReader r(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    auto value = read(r);
    if (!value) return value;
    if (auto end = r.finish(); !end) return std::unexpected(end.error());
    return value;
}

// ---- Verification ---------------------------------------------------------------------------

std::unexpected<HandshakeError> identity_failure(std::string text) {
    return std::unexpected(HandshakeError::identity(std::move(text)));
}

std::string segment_count(std::string_view token) {
    return std::to_string(std::ranges::count(token, '.') + 1);
}

// The public key of an Ed25519 or P-256 JWK.
std::expected<VerifyingKey, CryptoError> curve_key(const JwkKeyMaterial& material) {
    if (const auto* okp = std::get_if<JwkKeyMaterial::Okp>(&material.value)) {
        return VerifyingKey::from_public_bytes(okp->x);
    }
    const auto& ec = std::get<JwkKeyMaterial::Ec>(material.value);
    std::array<std::uint8_t, 65> point;
    point[0] = 0x04;  // uncompressed SEC1
    std::ranges::copy(ec.x, point.begin() + 1);
    std::ranges::copy(ec.y, point.begin() + 33);
    return VerifyingKey::from_public_bytes(point);
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

json::Result<JwtHeader> read_jwt_header(std::span<const std::uint8_t> bytes) {
    return read_whole<JwtHeader>(bytes, [](json::TextReader& r) -> json::Result<JwtHeader> {
        std::optional<std::string> alg;
        std::optional<std::optional<std::string>> kid;
        auto done = read_open_record<2>(
            r, "struct JwtHeader", {"alg", "kid"}, {false, true},
            [&](std::size_t i) { return i == 0 ? read_into(r, alg) : read_into(r, kid); });
        if (!done) return std::unexpected(done.error());
        return JwtHeader{std::move(*alg), kid ? std::move(*kid) : std::nullopt};
    });
}

json::Result<OidcClaims> read_oidc_claims(std::span<const std::uint8_t> bytes) {
    return read_whole<OidcClaims>(bytes, [](json::TextReader& r) -> json::Result<OidcClaims> {
        std::optional<std::string> iss, sub;
        std::optional<Aud> aud;
        std::optional<std::int64_t> iat, exp;
        std::optional<std::optional<std::string>> nonce;
        std::optional<std::optional<OidcCnf>> cnf;
        auto read_member = [&](std::size_t i) -> json::Result<void> {
            switch (i) {
                case 0:
                    return read_into(r, iss);
                case 1:
                    return read_into(r, sub);
                case 2: {
                    auto value = read_aud(r);
                    if (!value) return std::unexpected(value.error());
                    aud = std::move(*value);
                    return {};
                }
                case 3:
                    return read_into(r, iat);
                case 4:
                    return read_into(r, exp);
                case 5:
                    return read_into(r, nonce);
                default: {
                    auto null = r.read_null();
                    if (!null) return std::unexpected(null.error());
                    if (*null) {
                        cnf.emplace();
                        return {};
                    }
                    auto value = read_cnf(r);
                    if (!value) return std::unexpected(value.error());
                    cnf.emplace(std::move(*value));
                    return {};
                }
            }
        };
        auto done = read_open_record<7>(
            r, "struct OidcClaims", {"iss", "sub", "aud", "iat", "exp", "nonce", "cnf"},
            {false, false, false, false, false, true, true}, read_member);
        if (!done) return std::unexpected(done.error());
        return OidcClaims{std::move(*iss),
                          std::move(*sub),
                          std::move(*aud),
                          *iat,
                          *exp,
                          nonce ? std::move(*nonce) : std::nullopt,
                          cnf ? std::move(*cnf) : std::nullopt};
    });
}

bool Aud::contains(std::string_view audience) const {
    if (const auto* single = std::get_if<std::string>(&value)) return *single == audience;
    return std::ranges::find(std::get<std::vector<std::string>>(value), audience) !=
           std::get<std::vector<std::string>>(value).end();
}

const Jwk* find_jwk_by_kid(const std::vector<Jwk>& keys, const std::optional<std::string>& kid) {
    auto found = std::ranges::find_if(keys, [&](const Jwk& key) { return key.kid == kid; });
    if (found != keys.end()) return &*found;
    if (!kid && keys.size() == 1) return &keys.front();
    return nullptr;
}

std::expected<void, JwkSignatureError> verify_jwt_signature(
    const Jwk& key, std::string_view header_alg, std::span<const std::uint8_t> input,
    std::span<const std::uint8_t> signature) {
    const JwsAlg alg = key.alg();
    if (header_alg != name(alg)) {
        return std::unexpected(JwkSignatureError{
            JwkSignatureError::Kind::AlgMismatch, std::string(header_alg), alg, {}});
    }
    const JwkSignatureError invalid{JwkSignatureError::Kind::SignatureInvalid, {}, {}, {}};
    if (const auto* rsa = std::get_if<JwkKeyMaterial::Rsa>(&key.material.value)) {
        if (!verify_rs256(rsa->n, rsa->e, input, signature)) return std::unexpected(invalid);
        return {};
    }
    auto verifying = curve_key(key.material);
    if (!verifying) {
        return std::unexpected(
            JwkSignatureError{JwkSignatureError::Kind::KeyMaterial, {}, {}, verifying.error()});
    }
    if (!verifying->verify(input, signature)) return std::unexpected(invalid);
    return {};
}

std::expected<void, HandshakeError> verify_oidc_identity(const IdentityDescriptor& identity,
                                                         const OidcVerifyOptions& options) {
    if (identity.public_key) return identity_failure("oidc descriptor must not carry public_key");
    if (!identity.issuer) return identity_failure("oidc descriptor missing issuer");
    const std::string& issuer = *identity.issuer;
    if (std::ranges::find(options.trust_anchors, issuer) == options.trust_anchors.end()) {
        return std::unexpected(HandshakeError::of(HandshakeError::Kind::IncompatibleTrustAnchors));
    }

    std::string_view token = identity.proof;
    const std::size_t first_dot = token.find('.');
    const std::size_t second_dot =
        first_dot == std::string_view::npos ? first_dot : token.find('.', first_dot + 1);
    if (second_dot == std::string_view::npos || token.find('.', second_dot + 1) != token.npos) {
        return identity_failure("malformed JWT: expected 3 dot-separated segments, got " +
                                segment_count(token));
    }
    const std::string_view header_b64 = token.substr(0, first_dot);
    const std::string_view claims_b64 = token.substr(first_dot + 1, second_dot - first_dot - 1);
    const std::string_view signature_b64 = token.substr(second_dot + 1);

    auto header_bytes = b64u_decode(header_b64);
    if (!header_bytes) {
        return identity_failure("malformed JWT header b64: " +
                                std::string(text(header_bytes.error())));
    }
    auto header = read_jwt_header(*header_bytes);
    if (!header) return identity_failure("malformed JWT header json: " + header.error().text());

    auto issuer_url = parse_url(issuer);
    if (!issuer_url) return identity_failure("issuer not a URL: " + issuer_url.error().text());
    auto keys = options.resolver.resolve(*issuer_url);
    if (!keys)
        return std::unexpected(HandshakeError::issuer_key_resolution(issuer, keys.error().text()));
    if (keys->empty()) {
        return std::unexpected(
            HandshakeError::issuer_key_resolution(issuer, "issuer resolved zero candidate keys"));
    }
    const Jwk* key = find_jwk_by_kid(*keys, header->kid);
    if (!key) return identity_failure("no matching JWK");

    auto signature = b64u_decode(signature_b64);
    if (!signature) {
        return identity_failure("malformed JWT signature b64: " +
                                std::string(text(signature.error())));
    }
    const std::string_view signing_input = token.substr(0, second_dot);
    if (auto verified =
            verify_jwt_signature(*key, header->alg, bytes_of(signing_input), *signature);
        !verified) {
        return identity_failure("jwt signature invalid: " + verified.error().text());
    }

    auto claims_bytes = b64u_decode(claims_b64);
    if (!claims_bytes) {
        return identity_failure("malformed JWT payload b64: " +
                                std::string(text(claims_bytes.error())));
    }
    auto claims = read_oidc_claims(*claims_bytes);
    if (!claims) return identity_failure("malformed JWT claims: " + claims.error().text());

    if (claims->iss != issuer) return identity_failure("iss mismatch");
    if (!claims->aud.contains(options.own_aid.as_str())) return identity_failure("aud mismatch");
    if (claims->sub != identity.subject) return identity_failure("sub mismatch");
    if (claims->exp <= options.now) return identity_failure("jwt exp in the past");
    // Compared without overflow: |now - iat| <= tolerance.
    const bool iat_ok = claims->iat <= options.now
                            ? options.now - options.iat_tolerance_secs <= claims->iat
                            : claims->iat - options.iat_tolerance_secs <= options.now;
    if (!iat_ok) return identity_failure("iat outside tolerance");
    if (!claims->nonce) return identity_failure("missing nonce claim");
    if (*claims->nonce != options.pop_nonce) return identity_failure("nonce mismatch");
    if (!claims->cnf) return identity_failure("missing cnf claim");

    auto peer_key = VerifyingKey::from_aid(options.peer_aid);
    if (!peer_key) return identity_failure("subject AID parse failed: " + peer_key.error().text());
    if (claims->cnf->jkt != jwk_thumbprint(*peer_key)) return identity_failure("cnf.jkt mismatch");
    return {};
}

}  // namespace vesk::handshake
