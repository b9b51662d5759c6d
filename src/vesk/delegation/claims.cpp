#include "vesk/delegation/claims.h"

#include <algorithm>

#include "vesk/crypto/jws.h"
#include "vesk/crypto/sha256.h"

namespace vesk {

std::expected<std::string, CryptoError> sign_delegation_token(const SigningKey& key,
                                                              const DelegationClaims& claims) {
    return jws::encode_compact(key, jws::kTypDelegation, claims);
}

std::expected<std::string, DelegationError> delegation_chain_hash(
    std::span<const std::string> tokens) {
    std::vector<std::string> digests;
    digests.reserve(tokens.size());
    for (const std::string& token : tokens) digests.push_back(b64u_encode(sha256(token)));
    auto joined = json::to_canonical_json(digests);
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

DelegationError delegation_error(jws::ClaimsFault fault, std::string_view prefix) {
    using Kind = jws::ClaimsFault::Kind;
    if (fault.crypto) return DelegationError::from(std::move(*fault.crypto));
    if (auto name = fault.unknown_member()) return DelegationError::unknown_field(std::move(*name));
    if (fault.kind == Kind::NotJson) return DelegationError::claims_malformed(fault.text());
    return DelegationError::claims_malformed(std::string(prefix) + fault.text());
}

}  // namespace vesk
