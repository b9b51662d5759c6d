#include "vesk/tokens/verify.h"

#include <algorithm>

#include "vesk/core/json_write.h"
#include "vesk/core/protocol.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/thumbprint.h"

namespace vesk {
namespace {

// ["a", "b"]: each grant quoted and escaped as error messages show texts.
std::string grant_list(const std::vector<std::string>& grants) {
    std::string out = "[";
    for (const auto& grant : grants) {
        if (out.size() > 1) out += ", ";
        out += json::debug_quote(grant);
    }
    return out + "]";
}

// The checks on claims whose signature holds, in order.
std::expected<void, TctError> check_signed_claims(const TctClaims& claims,
                                                  const TctVerifyOptions& options) {
    using K = TctError::Kind;
    if (claims.ver != kProtocolVersion) return std::unexpected(TctError::of(K::VersionUnsupported));
    if (claims.iss.as_str() != options.issuer.as_str()) {
        return std::unexpected(TctError::of(K::IssuerMismatch));
    }
    if (claims.aud.as_str() != options.expected_audience.as_str() ||
        claims.aud.as_str() != claims.sub.as_str()) {
        return std::unexpected(TctError::of(K::AudienceMismatch));
    }
    const std::int64_t lower = sat_sub(options.now, options.clock_skew_secs);
    const std::int64_t upper = sat_add(options.now, options.clock_skew_secs);
    if (claims.exp < lower || claims.iat > upper) return std::unexpected(TctError::of(K::Expired));
    if (options.issuer_manifest_expires_at && claims.exp > *options.issuer_manifest_expires_at) {
        return std::unexpected(TctError::of(K::ExceedsManifestExpiry));
    }
    if (claims.grants.empty()) return std::unexpected(TctError::of(K::EmptyGrants));

    auto holder_key = VerifyingKey::from_aid(claims.sub);
    if (!holder_key) return std::unexpected(TctError::from(std::move(holder_key.error())));
    if (jwk_thumbprint(*holder_key) != claims.cnf.jkt) {
        return std::unexpected(TctError::of(K::CnfMismatch));
    }

    if (options.revocation_check && options.revocation_check->is_revoked(claims.jti)) {
        return std::unexpected(TctError::of(K::Revoked));
    }
    return {};
}

}  // namespace

bool RevokedJtiSet::is_revoked(const Uuid& jti) const {
    return !revoked_.empty() && revoked_.contains(jti.to_string());
}

std::expected<VerifiedTct, TctError> verify_tct_token(std::string_view token,
                                                      const TctVerifyOptions& options) {
    auto claims = jws::verify_token<TctClaims>(token, jws::kTypTct, options.issuer);
    if (!claims) return std::unexpected(tct_error(std::move(claims.error())));
    if (auto checked = check_signed_claims(*claims, options); !checked) {
        return std::unexpected(std::move(checked.error()));
    }
    return VerifiedTct{std::string(token), std::move(*claims)};
}

std::expected<void, TctError> verify_read_tct(const jws::ReadToken<TctClaims>& read,
                                              const TctVerifyOptions& options) {
    if (auto verified = jws::verify_read(options.issuer, jws::kTypTct, read); !verified) {
        return std::unexpected(TctError::from(std::move(verified.error())));
    }
    return check_signed_claims(read.claims, options);
}

std::expected<jws::ReadToken<TctClaims>, TctCheckError> decode_tct_claims(std::string_view token) {
    using Kind = TctCheckError::Kind;
    auto decoded = jws::decode_payload(token);
    if (!decoded) return std::unexpected(TctCheckError{Kind::Compact, decoded.error().text()});
    auto claims = json::from_json<TctClaims>(decoded->payload_text());
    if (!claims) return std::unexpected(TctCheckError{Kind::Claims, claims.error().text()});
    return jws::ReadToken<TctClaims>{std::move(*decoded), std::move(*claims)};
}

std::expected<VerifiedIdentity, TctCheckError> verify_tct_for_agent(
    const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now) {
    using Kind = TctCheckError::Kind;
    auto read = decode_tct_claims(token);
    if (!read) return std::unexpected(std::move(read.error()));

    std::optional<Aid> given_audience;
    if (expected_audience) {
        auto parsed = Aid::parse(*expected_audience);
        if (!parsed) return std::unexpected(TctCheckError{Kind::Audience, parsed.error().text()});
        given_audience = std::move(*parsed);
    }
    TctClaims& claims = read->claims;
    const TctVerifyOptions options{
        .issuer_manifest_expires_at = std::nullopt,
        .expected_audience = given_audience ? *given_audience : own_aid,
        .issuer = claims.iss,
        .now = now,
        .revocation_check = revoked,
        .clock_skew_secs = 0,
    };
    if (auto verified = verify_read_tct(*read, options); !verified) {
        return std::unexpected(TctCheckError{Kind::Verification, verified.error().text()});
    }
    if (std::ranges::find(claims.grants, required_grant) == claims.grants.end()) {
        return std::unexpected(
            TctCheckError{Kind::GrantMissing, "TCT does not grant '" + std::string(required_grant) +
                                                  "'; grants: " + grant_list(claims.grants)});
    }
    return VerifiedIdentity{
        {claims.iss.as_str(), std::move(claims.grants), claims.jti.to_string(), claims.exp},
        claims.aud.as_str()};
}

}  // namespace vesk
