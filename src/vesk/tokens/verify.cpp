#include "vesk/tokens/verify.h"

#include <algorithm>

#include "vesk/core/json_write.h"
#include "vesk/core/protocol.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/thumbprint.h"
#include "vesk/tokens/precheck.h"

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

// Claims already read whole from the token's own payload: the early member check holds for
// them, so what is left is the signature over those very bytes and the checks after it.
std::expected<void, TctError> verify_read_claims(std::string_view token, const TctClaims& claims,
                                                 const TctVerifyOptions& options) {
    auto payload = jws::verify_compact_signature(options.issuer, jws::kTypTct, token);
    if (!payload) return std::unexpected(TctError::from(std::move(payload.error())));
    // The bytes read as one JSON value, so they hold an object exactly when the value opens with
    // a brace; verify_compact would parse them a third time to learn that.
    const std::string_view text = as_text(*payload);
    const std::size_t first = text.find_first_not_of(" \t\n\r");
    if (first == std::string_view::npos || text[first] != '{') {
        return std::unexpected(
            TctError::from(CryptoError::jws_malformed("payload is not a JSON object")));
    }
    return check_signed_claims(claims, options);
}

}  // namespace

bool RevokedJtiSet::is_revoked(const Uuid& jti) const {
    return !revoked_.empty() && revoked_.contains(jti.to_string());
}

std::expected<VerifiedTct, TctError> verify_tct_token(std::string_view token,
                                                      const TctVerifyOptions& options) {
    // The common case reads the claims once; a payload that does not read takes every check in
    // its order, so that its failure is reported as it always is.
    if (auto claims = decode_tct_claims(token)) {
        if (auto verified = verify_read_claims(token, *claims, options); !verified) {
            return std::unexpected(std::move(verified.error()));
        }
        return VerifiedTct{std::string(token), std::move(*claims)};
    }
    if (auto early = precheck_token_members(token, jws::kTypTct, kTctClaimNames); !early) {
        return std::unexpected(tct_error_from(std::move(early.error())));
    }
    auto payload = jws::verify_compact(options.issuer, jws::kTypTct, token);
    if (!payload) return std::unexpected(TctError::from(std::move(payload.error())));

    auto read = json::from_json<TctClaims>(as_text(*payload));
    if (!read) return std::unexpected(claims_read_error(read.error()));
    if (auto checked = check_signed_claims(*read, options); !checked) {
        return std::unexpected(std::move(checked.error()));
    }
    return VerifiedTct{std::string(token), std::move(*read)};
}

std::expected<TctClaims, TctCheckFailure> decode_tct_claims(std::string_view token) {
    auto payload = jws::decode_segment(token);
    if (!payload) {
        return std::unexpected(
            TctCheckFailure{TctCheckFailure::Kind::Malformed,
                            "malformed TCT compact JWS: " + payload.error().text()});
    }
    auto claims = json::from_json<TctClaims>(as_text(*payload));
    if (!claims) {
        return std::unexpected(TctCheckFailure{TctCheckFailure::Kind::Malformed,
                                               "invalid TCT claims: " + claims.error().text()});
    }
    return std::move(*claims);
}

std::expected<VerifiedIdentity, TctCheckFailure> verify_tct_for_agent(
    const Aid& own_aid, std::string_view token, std::string_view required_grant,
    std::optional<std::string_view> expected_audience, const RevokedJtiSet* revoked,
    std::int64_t now) {
    auto decoded = decode_tct_claims(token);
    if (!decoded) return std::unexpected(std::move(decoded.error()));

    std::optional<Aid> given_audience;
    if (expected_audience) {
        auto parsed = Aid::parse(*expected_audience);
        if (!parsed) {
            return std::unexpected(TctCheckFailure{TctCheckFailure::Kind::Malformed,
                                                   "bad expected_audience AID '" +
                                                       std::string(*expected_audience) +
                                                       "': " + parsed.error().text()});
        }
        given_audience = std::move(*parsed);
    }
    const TctVerifyOptions options{
        .issuer_manifest_expires_at = std::nullopt,
        .expected_audience = given_audience ? *given_audience : own_aid,
        .issuer = decoded->iss,
        .now = now,
        .revocation_check = revoked,
        .clock_skew_secs = 0,
    };
    if (auto verified = verify_read_claims(token, *decoded, options); !verified) {
        return std::unexpected(TctCheckFailure{
            TctCheckFailure::Kind::Failed, "TCT verification failed: " + verified.error().text()});
    }
    TctClaims& claims = *decoded;
    if (std::ranges::find(claims.grants, required_grant) == claims.grants.end()) {
        return std::unexpected(TctCheckFailure{
            TctCheckFailure::Kind::Failed, "TCT does not grant '" + std::string(required_grant) +
                                               "'; grants: " + grant_list(claims.grants)});
    }
    return VerifiedIdentity{
        {claims.iss.as_str(), std::move(claims.grants), claims.jti.to_string(), claims.exp},
        claims.aud.as_str()};
}

}  // namespace vesk
