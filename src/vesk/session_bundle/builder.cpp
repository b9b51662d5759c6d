#include "vesk/session_bundle/builder.h"

#include <algorithm>

#include "vesk/core/clock.h"
#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::session_bundle {

std::expected<SessionTrustBundle, BundleError> build(const SigningKey& coordinator,
                                                     std::span<const ParticipantEntry> participants,
                                                     std::optional<Uuid> session_id,
                                                     std::optional<std::int64_t> issued_at) {
    using Kind = BundleError::Kind;
    if (participants.empty()) return std::unexpected(BundleError::of(Kind::EmptyParticipants));
    SessionTrustBundle bundle{
        .version = std::string(kProtocolVersion),
        .session_id = session_id ? *session_id : Uuid::new_v4(),
        .coordinator = coordinator.aid(),
        .issued_at = issued_at ? *issued_at : unix_now(),
        .expires_at = 0,
        .participants = {},
        .extensions = std::nullopt,
        .signature = {},
    };
    for (std::size_t i = 0; i < participants.size(); ++i) {
        const ParticipantEntry& entry = participants[i];
        auto read = decode_participant_claims(entry.tct);
        if (!read) return std::unexpected(std::move(read.error()));
        const TctClaims& claims = read->claims;
        if (claims.iss.as_str() != bundle.coordinator.as_str()) {
            return std::unexpected(BundleError::of(Kind::IssuerMismatch));
        }
        if (claims.aud.as_str() != entry.aid.as_str()) {
            return std::unexpected(BundleError::of(Kind::AudienceMismatch));
        }
        bundle.expires_at = i == 0 ? claims.exp : std::min(bundle.expires_at, claims.exp);
    }
    bundle.participants.assign(participants.begin(), participants.end());
    auto bytes = signing_bytes(bundle);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    bundle.signature = sign_digest_to_text(coordinator, sha256(*bytes));
    return bundle;
}

}  // namespace vesk::session_bundle
