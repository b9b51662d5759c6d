#include "vesk/delegation/builder.h"

#include <algorithm>

#include "vesk/core/protocol.h"
#include "vesk/core/saturating.h"
#include "vesk/crypto/thumbprint.h"
#include "vesk/delegation/claims.h"
#include "vesk/tokens/voucher.h"

namespace vesk {
namespace {

std::expected<GrantVoucherClaims, DelegationError> decode_voucher(std::string_view voucher) {
    auto read = jws::read_token<GrantVoucherClaims>(voucher);
    if (!read) return std::unexpected(delegation_error(std::move(read.error()), "voucher: "));
    return std::move(read->claims);
}

}  // namespace

std::expected<std::string, DelegationError> build_delegation(
    const DelegationBuildRequest& request) {
    using K = DelegationError::Kind;
    const SigningKey& signer = request.signer;
    auto voucher = decode_voucher(request.voucher_token);
    if (!voucher) return std::unexpected(std::move(voucher.error()));
    if (voucher->sub.as_str() != signer.aid().as_str()) {
        return std::unexpected(DelegationError::of(K::VoucherInvalid));
    }

    if (!request.delegatee)
        return std::unexpected(DelegationError::of(K::MissingField, "delegatee"));
    const Aid& delegatee = *request.delegatee;
    if (request.scope.empty()) return std::unexpected(DelegationError::of(K::EmptyScope));
    if (delegatee.as_str() == signer.aid().as_str()) {
        return std::unexpected(DelegationError::of(K::SelfDelegation));
    }
    if (voucher->grants.empty() || !scope_within(request.scope, voucher->grants)) {
        return std::unexpected(DelegationError::of(K::ScopeExceedsGrant));
    }
    // The delegation never outlives the grant it passes on.
    const std::int64_t exp = std::min(sat_add(request.now, request.ttl_secs), voucher->exp);

    auto delegatee_key = VerifyingKey::from_aid(delegatee);
    if (!delegatee_key) return std::unexpected(DelegationError::from(delegatee_key.error()));

    const DelegationClaims claims{
        .ver = std::string(kProtocolVersion),
        .iss = signer.aid(),
        .sub = delegatee,
        .aud = voucher->iss,
        .scope = request.scope,
        .exp = exp,
        .cnf = Cnf{jwk_thumbprint(*delegatee_key)},
        .voucher = request.voucher_token,
        .jti = std::nullopt,
        .chain = std::nullopt,
        .chain_hash = std::nullopt,
        .ext = std::nullopt,
    };
    auto token = sign_delegation_token(signer, claims);
    if (!token) return std::unexpected(DelegationError::from(std::move(token.error())));
    return std::move(*token);
}

}  // namespace vesk
