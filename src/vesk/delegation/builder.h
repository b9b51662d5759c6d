// Building single-hop delegation tokens from a held grant voucher.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/crypto/keys.h"
#include "vesk/delegation/delegation_error.h"

namespace vesk {

inline constexpr std::int64_t kDefaultDelegationTtlSecs = 3600;

// The settings of one build; fields left alone keep the defaults shown.
struct DelegationBuildRequest {
    DelegationBuildRequest(const SigningKey& signer, std::string voucher_token, std::int64_t now)
        : signer(signer), voucher_token(std::move(voucher_token)), now(now) {}

    const SigningKey& signer;   // borrowed; the delegator, who signs the token
    std::string voucher_token;  // the grant voucher issued to the signer, kept verbatim
    std::optional<Aid> delegatee;
    std::vector<std::string> scope;
    std::int64_t ttl_secs = kDefaultDelegationTtlSecs;
    std::int64_t now;
};

// Signs a token addressed to the voucher's issuer that hands `scope` on to the delegatee. The
// voucher is only decoded here, never verified: its signature, type and expiry are checked
// when the token is verified.
std::expected<std::string, DelegationError> build_delegation(const DelegationBuildRequest& request);

}  // namespace vesk
