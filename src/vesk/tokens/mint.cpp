#include "vesk/tokens/mint.h"

#include "vesk/core/clock.h"
#include "vesk/core/json_write.h"
#include "vesk/core/protocol.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/thumbprint.h"
#include "vesk/tokens/grants.h"
#include "vesk/tokens/voucher.h"

namespace vesk {

std::expected<std::string, CryptoError> encode_tct_jws(const SigningKey& key,
                                                       const TctClaims& claims) {
    return jws::encode_compact(key, jws::kTypTct, claims);
}

std::expected<MintedTct, TctError> mint_tct(TctMintRequest request) {
    using K = TctError::Kind;
    if (!request.subject) return std::unexpected(TctError::of(K::MissingField, "subject"));
    if (!request.audience) return std::unexpected(TctError::of(K::MissingField, "audience"));
    if (!request.subject_pubkey)
        return std::unexpected(TctError::of(K::MissingField, "subject_pubkey"));
    if (request.grants.empty()) return std::unexpected(TctError::of(K::EmptyGrants));
    if (const std::string* grant = first_grant_with_whitespace(request.grants)) {
        return std::unexpected(TctError::of(K::GrantWhitespace, *grant));
    }
    if (request.subject->as_str() != request.audience->as_str()) {
        return std::unexpected(TctError::of(K::AudienceMismatch));
    }
    if (request.subject->public_key_bytes() != request.subject_pubkey->to_bytes()) {
        return std::unexpected(TctError::of(K::CnfMismatch));
    }

    const SigningKey& key = request.issuer_key;
    const std::int64_t iat = request.issued_at ? *request.issued_at : unix_now();
    TctClaims claims{
        .ver = std::string(kProtocolVersion),
        .jti = request.jti ? *request.jti : Uuid::new_v4(),
        .iss = key.aid(),
        .sub = std::move(*request.subject),
        .aud = std::move(*request.audience),
        .iat = iat,
        .exp = sat_add(iat, request.ttl_secs),
        .grants = std::move(request.grants),
        .cnf = Cnf{jwk_thumbprint(*request.subject_pubkey)},
        .ext = std::nullopt,
    };
    auto token = encode_tct_jws(key, claims);
    if (!token) return std::unexpected(TctError::from(std::move(token.error())));

    std::optional<std::string> voucher;
    if (request.with_grant_voucher) {
        const GrantVoucherClaims voucher_claims{
            .ver = claims.ver,
            .iss = claims.iss,
            .sub = claims.sub,
            .grants = claims.grants,
            .iat = claims.iat,
            .exp = claims.exp,
            .src_jti = claims.jti,
            .ext = std::nullopt,
        };
        auto signed_voucher = sign_grant_voucher(key, voucher_claims);
        if (!signed_voucher)
            return std::unexpected(TctError::from(std::move(signed_voucher.error())));
        voucher = std::move(*signed_voucher);
    }
    return MintedTct{std::move(*token), std::move(claims), std::move(voucher)};
}

std::string tct_envelope_json(std::string_view tct,
                              const std::optional<std::string>& grant_voucher) {
    std::string out = "{\"tct\":";
    json::append_quoted(out, tct);
    out += ",\"grant_voucher\":";
    if (grant_voucher) {
        json::append_quoted(out, *grant_voucher);
    } else {
        out += "null";
    }
    out += '}';
    return out;
}

}  // namespace vesk
