#include "vesk/session_bundle/bundle.h"

#include "vesk/core/canonical_json.h"
#include "vesk/core/json_reader.h"
#include "vesk/crypto/jws.h"

namespace vesk::session_bundle {

BundleSigningView BundleSigningView::of(const SessionTrustBundle& bundle) {
    return {bundle.version,    bundle.session_id,   bundle.coordinator, bundle.issued_at,
            bundle.expires_at, bundle.participants, bundle.extensions};
}

std::expected<std::string, BundleError> signing_bytes(const BundleSigningView& view) {
    json::Object body;
    body.append_new("version", json::Value(view.version));
    body.append_new("session_id", json::to_value(view.session_id));
    body.append_new("coordinator", json::Value(view.coordinator.as_str()));
    body.append_new("issued_at", json::Value(view.issued_at));
    body.append_new("expires_at", json::Value(view.expires_at));
    json::Array participants;
    participants.reserve(view.participants.size());
    for (const ParticipantEntry& entry : view.participants) {
        participants.push_back(json::to_value(entry));
    }
    body.append_new("participants", std::move(participants));
    if (view.extensions) body.append_new("extensions", json::to_value(*view.extensions));
    auto bytes = canonical_json(body);
    if (!bytes) return std::unexpected(BundleError::canonicalization(bytes.error().text()));
    return std::move(*bytes);
}

std::expected<jws::ReadToken<TctClaims>, BundleError> decode_participant_claims(
    std::string_view token) {
    auto decoded = jws::decode_payload(token);
    if (!decoded) {
        return std::unexpected(
            BundleError::canonicalization("participant tct: " + decoded.error().text()));
    }
    if (auto unique = json::TextReader(decoded->payload_text()).read_value(true); !unique) {
        return std::unexpected(
            BundleError::canonicalization("participant tct claims: " + unique.error().text()));
    }
    auto read = jws::read_claims<TctClaims>(std::move(*decoded));
    if (!read) {
        if (auto unknown = read.error().unknown_member()) {
            return std::unexpected(BundleError::of(BundleError::Kind::UnknownField, *unknown));
        }
        return std::unexpected(
            BundleError::canonicalization("participant tct claims: " + read.error().text()));
    }
    return std::move(*read);
}

}  // namespace vesk::session_bundle
