#include "vesk/delegation/claims.h"

#include <algorithm>

#include "vesk/core/canonical_json.h"
#include "vesk/core/unknown_field.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/sha256.h"
#include "vesk/tokens/precheck.h"

namespace vesk {

std::expected<std::string, CryptoError> sign_delegation_token(const SigningKey& key,
                                                              const DelegationClaims& claims) {
    return jws::encode_compact(key, jws::kTypDelegation, json::to_value(claims));
}

std::expected<std::string, DelegationError> delegation_chain_hash(
    std::span<const std::string> tokens) {
    json::Array digests;
    digests.reserve(tokens.size());
    for (const std::string& token : tokens) digests.push_back(b64u_encode(sha256(token)));
    auto joined = canonical_json(json::Value(std::move(digests)));
    if (!joined) {
        return std::unexpected(
            DelegationError::of(DelegationError::Kind::Canonicalization, joined.error().text()));
    }
    return b64u_encode(sha256(*joined));
}

bool scope_within(std::span<const std::string> scope, std::span<const std::string> grants) {
    return std::ranges::all_of(scope, [&](const std::string& capability) {
        return std::ranges::find(grants, capability) != grants.end();
    });
}

std::expected<Bytes, DelegationError> early_payload(
    std::string_view token, std::span<const std::string_view> member_names) {
    auto payload = check_payload_members(token, member_names);
    if (payload) return std::move(*payload);
    PrecheckFailure& failure = payload.error();
    switch (failure.kind) {
        case PrecheckFailure::Kind::Crypto:
            return std::unexpected(DelegationError::from(std::move(failure.crypto)));
        case PrecheckFailure::Kind::NotJson:
            return std::unexpected(DelegationError::claims_malformed(std::move(failure.detail)));
        case PrecheckFailure::Kind::UnknownMember:
            return std::unexpected(DelegationError::unknown_field(std::move(failure.detail)));
    }
    return std::unexpected(DelegationError::claims_malformed(std::move(failure.detail)));
}

DelegationError delegation_read_error(const json::Error& error, std::string_view prefix) {
    if (auto name = unknown_field_name(error)) {
        return DelegationError::unknown_field(std::move(*name));
    }
    return DelegationError::claims_malformed(std::string(prefix) + error.text());
}

}  // namespace vesk
