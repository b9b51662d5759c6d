#include "vesk/delegation/claims.h"

#include <algorithm>

#include "vesk/core/json_reader.h"
#include "vesk/core/unknown_field.h"
#include "vesk/crypto/jws.h"
#include "vesk/crypto/sha256.h"

namespace vesk {

std::expected<std::string, CanonicalJsonError> canonical_delegation_claims(
    const DelegationClaims& claims) {
    return canonical_json(json::to_value(claims));
}

std::expected<std::string, CryptoError> sign_delegation_token(const SigningKey& key,
                                                              const DelegationClaims& claims) {
    auto payload = canonical_delegation_claims(claims);
    if (!payload) {
        return std::unexpected(
            CryptoError::jws_malformed("claims canonicalization: " + payload.error().text()));
    }
    return jws::sign_claims_bytes(key, jws::kTypDelegation, *payload);
}

std::expected<std::string, DelegationError> delegation_chain_hash(
    std::span<const std::string> tokens) {
    json::Array digests;
    digests.reserve(tokens.size());
    for (const std::string& token : tokens) digests.emplace_back(b64u_encode(sha256(token)));
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
    auto payload = jws::decode_segment(token);
    if (!payload) return std::unexpected(DelegationError::from(std::move(payload.error())));
    const std::string_view text = as_text(*payload);
    if (auto bad = parse_json_value(text)) {
        return std::unexpected(DelegationError::claims_malformed(std::move(*bad)));
    }
    // Only a payload that is one whole JSON value is looked into here; the strict reading
    // refuses anything else.
    if (auto value = json::parse(text)) {
        if (auto unknown = first_unknown_field(*value, member_names)) {
            return std::unexpected(DelegationError::unknown_field(std::move(*unknown)));
        }
    }
    return std::move(*payload);
}

DelegationError delegation_read_error(const json::Error& error, std::string_view prefix) {
    if (auto name = unknown_field_name(error)) {
        return DelegationError::unknown_field(std::move(*name));
    }
    return DelegationError::claims_malformed(std::string(prefix) + error.text());
}

}  // namespace vesk
