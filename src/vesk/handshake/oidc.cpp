#include "vesk/handshake/oidc.h"

#include <algorithm>
#include <array>
#include <utility>

#include "vesk/core/base64url.h"
#include "vesk/core/url.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/rsa.h"
#include "vesk/crypto/thumbprint.h"

vesk::json::Result<vesk::handshake::Aud> vesk::json::Codec<vesk::handshake::Aud>::read(
    TextReader& r) {
    auto value = r.read_value();
    if (!value) return std::unexpected(value.error());
    if (auto single = from_value<std::string>(*value)) return handshake::Aud{std::move(*single)};
    if (auto list = from_value<std::vector<std::string>>(std::move(*value))) {
        return handshake::Aud{std::move(*list)};
    }
    return std::unexpected(Error{"data did not match any variant of untagged enum Aud"});
}

namespace vesk::handshake {
namespace {

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

    const std::string_view token = identity.proof;
    const auto segments = jws::split_three(token);
    if (!segments) {
        return identity_failure("malformed JWT: expected 3 dot-separated segments, got " +
                                segment_count(token));
    }
    auto header_bytes = b64u_decode(segments->header);
    if (!header_bytes) {
        return identity_failure("malformed JWT header b64: " +
                                std::string(text(header_bytes.error())));
    }
    auto header = json::from_json<JwtHeader>(*header_bytes);
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

    auto signature = b64u_decode(segments->signature);
    if (!signature) {
        return identity_failure("malformed JWT signature b64: " +
                                std::string(text(signature.error())));
    }
    if (auto verified = verify_jwt_signature(*key, header->alg, bytes_of(segments->signing_input()),
                                             *signature);
        !verified) {
        return identity_failure("jwt signature invalid: " + verified.error().text());
    }

    auto claims_bytes = b64u_decode(segments->payload);
    if (!claims_bytes) {
        return identity_failure("malformed JWT payload b64: " +
                                std::string(text(claims_bytes.error())));
    }
    auto claims = json::from_json<OidcClaims>(*claims_bytes);
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
