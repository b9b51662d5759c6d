// Issuing a session trust bundle: check each participant TCT against the coordinator and the
// member, then sign.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/session_bundle/bundle.h"

namespace vesk::session_bundle {

// Each TCT must be issued by the coordinator (`iss`) to its entry's AID (`aud`), compared as
// text; tokens are not otherwise verified here. `expires_at` becomes the smallest `exp`.
// Without `session_id` a fresh version-4 UUID is drawn; without `issued_at` the clock is read.
std::expected<SessionTrustBundle, BundleError> build(const SigningKey& coordinator,
                                                     std::span<const ParticipantEntry> participants,
                                                     std::optional<Uuid> session_id,
                                                     std::optional<std::int64_t> issued_at);

}  // namespace vesk::session_bundle
