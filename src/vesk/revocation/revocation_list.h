// Revocation snapshots: an agent's signed, time-limited list of the TCT identifiers it has
// revoked. The signature covers the canonical bytes of the inner list, never the wrapper.
//   json::from_json<RevocationListEnvelope>(text)  strict reading, positioned errors
//   json::to_json(envelope)                        compact, members in declaration order
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
#include "vesk/tokens/tct_error.h"

namespace vesk::revocation {

inline constexpr std::int64_t kDefaultSnapshotTtlSecs = 3600;

struct RevocationEntry {
    Uuid jti;
    std::int64_t revoked_at = 0;
    std::optional<std::string> reason;  // an empty string is a reason
};

struct RevocationList {
    std::string version;
    Aid issuer;                     // kept as received
    std::int64_t published_at = 0;  // for the consumer's freshness policy; never checked here
    std::int64_t expires_at = 0;    // last second at which the snapshot is valid
    std::vector<RevocationEntry> entries;  // in received order, duplicates kept
    std::optional<json::Extensions> extensions;
};

struct RevocationListEnvelope {
    RevocationList revocation_list;
    std::string signature;  // signature text over SHA-256 of the list's signing bytes
};

constexpr auto describe_json(std::type_identity<RevocationEntry>) {
    return json::record("struct RevocationEntry", json::member("jti", &RevocationEntry::jti),
                        json::member("revoked_at", &RevocationEntry::revoked_at),
                        json::member("reason", &RevocationEntry::reason));
}

constexpr auto describe_json(std::type_identity<RevocationList>) {
    return json::record("struct RevocationList", json::member("version", &RevocationList::version),
                        json::member("issuer", &RevocationList::issuer),
                        json::member("published_at", &RevocationList::published_at),
                        json::member("expires_at", &RevocationList::expires_at),
                        json::member("entries", &RevocationList::entries),
                        json::member("extensions", &RevocationList::extensions));
}

constexpr auto describe_json(std::type_identity<RevocationListEnvelope>) {
    return json::record("struct RevocationListEnvelope",
                        json::member("revocation_list", &RevocationListEnvelope::revocation_list),
                        json::member("signature", &RevocationListEnvelope::signature));
}

// The canonical JSON of the list alone: the bytes whose SHA-256 the signature covers.
std::expected<std::string, TctError> signing_bytes(const RevocationList& list);

// Signs the list with the agent's key and wraps it in its envelope.
std::expected<RevocationListEnvelope, TctError> sign(RevocationList list, const SigningKey& key);

// Authenticity and expiry only: version, `expires_at` not before `now`, the issuer text equal
// to `expected_issuer` (byte for byte), then the signature by the issuer's key.
// `published_at` and the entries are not examined.
std::expected<void, TctError> verify(const RevocationListEnvelope& envelope,
                                     const Aid& expected_issuer, std::int64_t now);

// The stable machine-readable code of a verification failure: "version_unknown",
// "signature_invalid", "issuer_mismatch", "expired", or "malformed" for anything else.
std::string_view error_code(const TctError& error);

}  // namespace vesk::revocation
