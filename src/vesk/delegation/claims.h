// Delegation tokens: the claim set, its canonical signed form, signing and the chain hash.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/crypto/token_claims.h"
#include "vesk/delegation/delegation_error.h"
#include "vesk/tokens/claims.h"

namespace vesk {

struct DelegationClaims {
    std::string ver;
    Aid iss;  // the delegator, who signs the token
    Aid sub;  // the delegatee
    Aid aud;  // the root grantor, who verifies it
    std::vector<std::string> scope;
    std::int64_t exp = 0;
    Cnf cnf;                             // binds the delegatee's key
    std::optional<std::string> voucher;  // the root grant voucher (single hop, first hop)
    std::optional<Uuid> jti;             // required on every hop of a chain
    std::optional<std::vector<std::string>> chain;  // earlier tokens, first hop first
    std::optional<std::string> chain_hash;
    std::optional<json::Extensions> ext;
};

constexpr auto describe_json(std::type_identity<DelegationClaims>) {
    using D = DelegationClaims;
    return json::record("struct DelegationClaims", json::member("ver", &D::ver),
                        json::member("iss", &D::iss), json::member("sub", &D::sub),
                        json::member("aud", &D::aud), json::member("scope", &D::scope),
                        json::member("exp", &D::exp), json::member("cnf", &D::cnf),
                        json::member("voucher", &D::voucher), json::member("jti", &D::jti),
                        json::member("chain", &D::chain),
                        json::member("chain_hash", &D::chain_hash), json::member("ext", &D::ext));
}

// The compact JWS of type vesk-delegation+jwt over the canonical claims (absent optional
// members left out), taken as they are.
std::expected<std::string, CryptoError> sign_delegation_token(const SigningKey& key,
                                                              const DelegationClaims& claims);

// base64url(SHA-256) of the canonical array of each token's base64url(SHA-256), in order.
std::expected<std::string, DelegationError> delegation_chain_hash(
    std::span<const std::string> tokens);

// Every scope entry is one of the grants (exact text; order and repetitions free). An empty
// scope is within anything; emptiness is refused elsewhere.
bool scope_within(std::span<const std::string> scope, std::span<const std::string> grants);

// A token's claims that could not be had, as a DelegationError: an unknown member by name, the
// token itself by its crypto error, anything else malformed, with `prefix` before the strict
// reader's text.
DelegationError delegation_error(jws::ClaimsFault fault, std::string_view prefix = {});

}  // namespace vesk
