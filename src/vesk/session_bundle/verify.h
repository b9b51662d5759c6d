// Checking a session trust bundle as one of its members.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "vesk/core/aid.h"
#include "vesk/session_bundle/bundle.h"
#include "vesk/tokens/verify.h"

namespace vesk::session_bundle {

struct BundleVerifyOptions {
    const Aid& verifier;
    std::int64_t now = 0;
    // Asked once per participant, in order, after its TCT verified; may be null.
    const JtiRevocationCheck* revocation_check = nullptr;
};

// Clear: nobody was reported revoked. Degraded: at least one member was dropped.
struct BundleVerdict {
    enum class Kind { Clear, Degraded };
    Kind kind;
    std::vector<std::string> active_aids;   // AID texts as written, in participant order
    std::vector<std::string> dropped_aids;  // empty when Clear
};

// Version, expiry (`expires_at` equal to `now` passes), non-empty participants, `expires_at`
// equal to the smallest participant `exp`, the verifier listed as a participant (AIDs compared
// as text), the coordinator's signature, then each participant TCT verified as issued by the
// coordinator to that participant. A revoked member is dropped rather than refused.
std::expected<BundleVerdict, BundleError> verify(const SessionTrustBundle& bundle,
                                                 const BundleVerifyOptions& options);

bool has_participant(std::span<const ParticipantEntry> participants, const Aid& aid);

}  // namespace vesk::session_bundle
