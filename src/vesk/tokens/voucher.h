// Grant vouchers: the issuer's signed restatement of a TCT's subject, grants and times.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/tokens/claims.h"
#include "vesk/tokens/tct_error.h"

namespace vesk {

struct GrantVoucherClaims {
    std::string ver;
    Aid iss;
    Aid sub;
    std::vector<std::string> grants;
    std::int64_t iat = 0;
    std::int64_t exp = 0;
    Uuid src_jti;
    std::optional<json::Extensions> ext;
};

constexpr auto describe_json(std::type_identity<GrantVoucherClaims>) {
    using V = GrantVoucherClaims;
    return json::record("struct GrantVoucherClaims", json::member("ver", &V::ver),
                        json::member("iss", &V::iss), json::member("sub", &V::sub),
                        json::member("grants", &V::grants), json::member("iat", &V::iat),
                        json::member("exp", &V::exp), json::member("src_jti", &V::src_jti),
                        json::member("ext", &V::ext));
}

// Signed over the canonical JSON of the claims.
std::expected<std::string, CryptoError> sign_grant_voucher(const SigningKey& key,
                                                           const GrantVoucherClaims& claims);

// Checks the voucher's form, its signature by `issuer`, its version, that `iss` is `issuer`
// and that it carries grants. No time, subject or revocation check.
std::expected<GrantVoucherClaims, TctError> verify_grant_voucher(std::string_view voucher,
                                                                 const Aid& issuer);

// A voucher mirrors a TCT (both verified against one issuer) when its sub, grants, iat and exp
// equal the TCT's and its src_jti is the TCT's jti; otherwise "claims malformed: grant voucher
// does not mirror the companion TCT".
std::expected<void, TctError> check_voucher_mirrors(const GrantVoucherClaims& voucher,
                                                    const TctClaims& tct);

}  // namespace vesk
