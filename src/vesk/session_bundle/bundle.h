// Session trust bundles: a coordinator's signed list of one session's members, each with the TCT
// the coordinator issued to it.
//   json::from_json<SessionBundleEnvelope>(text)  strict reading, positioned errors
//   json::to_json(envelope)                       compact, members in declaration order
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
#include "vesk/session_bundle/bundle_error.h"
#include "vesk/tokens/claims.h"

namespace vesk::session_bundle {

struct ParticipantEntry {
    Aid aid;          // kept as received
    std::string tct;  // compact JWS, not examined when read
};

struct SessionTrustBundle {
    std::string version;
    Uuid session_id;
    Aid coordinator;
    std::int64_t issued_at = 0;
    std::int64_t expires_at = 0;                 // the smallest `exp` among the participant TCTs
    std::vector<ParticipantEntry> participants;  // order is signed and reported
    std::optional<json::Extensions> extensions;
    std::string signature;
};

struct SessionBundleEnvelope {
    SessionTrustBundle session_bundle;
};

constexpr auto describe_json(std::type_identity<ParticipantEntry>) {
    return json::record("struct ParticipantEntry", json::member("aid", &ParticipantEntry::aid),
                        json::member("tct", &ParticipantEntry::tct));
}

constexpr auto describe_json(std::type_identity<SessionTrustBundle>) {
    return json::record("struct SessionTrustBundle",
                        json::member("version", &SessionTrustBundle::version),
                        json::member("session_id", &SessionTrustBundle::session_id),
                        json::member("coordinator", &SessionTrustBundle::coordinator),
                        json::member("issued_at", &SessionTrustBundle::issued_at),
                        json::member("expires_at", &SessionTrustBundle::expires_at),
                        json::member("participants", &SessionTrustBundle::participants),
                        json::member("extensions", &SessionTrustBundle::extensions),
                        json::member("signature", &SessionTrustBundle::signature));
}

constexpr auto describe_json(std::type_identity<SessionBundleEnvelope>) {
    return json::record("struct SessionBundleEnvelope",
                        json::member("session_bundle", &SessionBundleEnvelope::session_bundle));
}

// The canonical JSON of every member but `signature`: what the coordinator's signature covers
// (its SHA-256 is signed).
std::expected<std::string, BundleError> signing_bytes(const SessionTrustBundle& bundle);

// The claims of a participant TCT, read strictly but without checking the token itself
// (signature, type, version, times, issuer and audience are the caller's business). No object
// of the payload may name a member twice, at any depth.
std::expected<jws::ReadToken<TctClaims>, BundleError> decode_participant_claims(
    std::string_view token);

}  // namespace vesk::session_bundle
