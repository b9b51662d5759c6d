#include "vesk/tokens/voucher.h"

#include "vesk/core/protocol.h"
#include "vesk/crypto/jws.h"

namespace vesk {

std::expected<std::string, CryptoError> sign_grant_voucher(const SigningKey& key,
                                                           const GrantVoucherClaims& claims) {
    return jws::encode_compact(key, jws::kTypGrant, claims);
}

std::expected<GrantVoucherClaims, TctError> verify_grant_voucher(std::string_view voucher,
                                                                 const Aid& issuer) {
    using K = TctError::Kind;
    auto claims = jws::verify_token<GrantVoucherClaims>(voucher, jws::kTypGrant, issuer);
    if (!claims) return std::unexpected(tct_error(std::move(claims.error())));
    if (claims->ver != kProtocolVersion)
        return std::unexpected(TctError::of(K::VersionUnsupported));
    if (claims->iss.as_str() != issuer.as_str())
        return std::unexpected(TctError::of(K::IssuerMismatch));
    if (claims->grants.empty()) return std::unexpected(TctError::of(K::EmptyGrants));
    return std::move(*claims);
}

std::expected<void, TctError> check_voucher_mirrors(const GrantVoucherClaims& voucher,
                                                    const TctClaims& tct) {
    if (voucher.sub.as_str() == tct.sub.as_str() && voucher.grants == tct.grants &&
        voucher.iat == tct.iat && voucher.exp == tct.exp && voucher.src_jti == tct.jti) {
        return {};
    }
    return std::unexpected(
        TctError::claims_malformed("grant voucher does not mirror the companion TCT"));
}

}  // namespace vesk
