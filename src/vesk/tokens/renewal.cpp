#include "vesk/tokens/renewal.h"

#include <algorithm>
#include <array>

#include "vesk/core/base64url.h"
#include "vesk/core/random.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/tokens/verify.h"

namespace vesk {
namespace {

// Reads the claims without verifying anything, only to learn the audience to verify against: the
// payload as one JSON value, unknown members refused when the token declares the TCT type, then
// the claims read from that value.
std::expected<TctClaims, TctError> peek_claims(std::string_view token) {
    auto decoded = jws::decode_payload(token);
    if (!decoded) return std::unexpected(TctError::from(std::move(decoded.error())));
    auto value = json::parse(decoded->payload_text());
    if (!value) return std::unexpected(TctError::claims_malformed(value.error().text()));
    if (JwsHeader::parse(token) == jws::kTypTct) {
        if (auto unknown = json::first_undeclared_member<TctClaims>(*value)) {
            return std::unexpected(TctError::unknown_field(std::move(*unknown)));
        }
    }
    auto claims = json::from_value<TctClaims>(std::move(*value));
    if (!claims) return std::unexpected(tct_error(jws::ClaimsFault::of(std::move(claims.error()))));
    return std::move(*claims);
}

// The TCT to renew, verified as this agent's own and valid now, against the audience it names.
std::expected<TctClaims, TctError> verify_current(std::string_view token,
                                                  const SigningKey& issuer_key, std::int64_t now) {
    const auto options = [&](const Aid& audience) {
        return TctVerifyOptions{.issuer_manifest_expires_at = std::nullopt,
                                .expected_audience = audience,
                                .issuer = issuer_key.aid(),
                                .now = now,
                                .revocation_check = nullptr,
                                .clock_skew_secs = 0};
    };
    // Claims that read strictly are what the unverified reading gives: they are checked as read.
    if (auto read = jws::read_token<TctClaims>(token)) {
        if (auto verified = verify_read_tct(*read, options(read->claims.aud)); !verified) {
            return std::unexpected(std::move(verified.error()));
        }
        return std::move(read->claims);
    }
    auto peeked = peek_claims(token);
    if (!peeked) return std::unexpected(std::move(peeked.error()));
    auto verified = verify_tct_token(token, options(peeked->aud));
    if (!verified) return std::unexpected(std::move(verified.error()));
    return std::move(verified->claims);
}

}  // namespace

std::string build_renewal_request(const SigningKey& holder_key, std::string_view current_tct) {
    std::array<std::uint8_t, 16> nonce;
    random_bytes(nonce);
    return json::to_json(TctRenewalPayload{std::string(current_tct), b64u_encode(nonce),
                                           sign_digest_to_text(holder_key, sha256(nonce))});
}

std::expected<MintedTct, TctError> process_renewal_request(const TctRenewalPayload& request,
                                                           const SigningKey& issuer_key,
                                                           std::int64_t manifest_exp,
                                                           std::int64_t now, std::int64_t new_ttl) {
    using K = TctError::Kind;
    auto verified = verify_current(request.current_tct, issuer_key, now);
    if (!verified) return std::unexpected(std::move(verified.error()));
    TctClaims& current = *verified;

    auto holder_key = VerifyingKey::from_aid(current.sub);
    if (!holder_key) return std::unexpected(TctError::from(std::move(holder_key.error())));
    auto nonce = b64u_decode(request.pop_nonce);
    if (!nonce) {
        return std::unexpected(
            TctError::claims_malformed("pop_nonce: " + std::string(text(nonce.error()))));
    }
    const Digest digest = sha256(*nonce);
    auto signature = SignatureText::parse(request.pop_signature);
    if (!signature || !verify_signature_text(*holder_key, digest, *signature)) {
        return std::unexpected(TctError::of(K::SignatureInvalid));
    }

    // Saturating: a Manifest expiry near the bottom of the range must not wrap to a long life.
    const std::int64_t remaining = sat_sub(manifest_exp, now);
    if (remaining <= 0) return std::unexpected(TctError::of(K::Expired));
    const std::int64_t lifetime = std::min(remaining, new_ttl);
    if (lifetime < 1) return std::unexpected(TctError::of(K::Expired));

    TctMintRequest mint(issuer_key);
    mint.issued_at = now;
    mint.subject_pubkey = std::move(*holder_key);
    mint.grants = std::move(current.grants);
    mint.subject = std::move(current.sub);
    mint.audience = std::move(current.aud);
    mint.ttl_secs = lifetime;
    mint.with_grant_voucher = true;
    mint.jti = Uuid::new_v4();
    return mint_tct(std::move(mint));
}

}  // namespace vesk
