// Session trust bundles checked by a fixed member: strict reading round-trips, and a bundle only
// verifies when current, listing the member, signed by its coordinator (a fixed key: the fuzzer
// holds none), with every participant accounted for.
#include "fixed_keys.h"
#include "vesk/session_bundle/verify.h"

void vesk::fuzz::check_input(std::string_view text) {
    using namespace session_bundle;
    auto envelope = read_record<SessionBundleEnvelope>(text);
    if (!envelope) return;
    const SessionTrustBundle& bundle = envelope->session_bundle;
    const Aid& member = holder(Algorithm::Ed25519).aid();
    auto verdict = verify(bundle, {.verifier = member, .now = kNow, .revocation_check = {}});
    if (refused(verdict)) return;
    const SigningKey* coordinator = fixed_key_of(bundle.coordinator);
    auto bytes = signing_bytes(bundle);
    require(coordinator && bytes &&
                is_own_signature_text(*coordinator, sha256(*bytes), bundle.signature),
            "only the coordinator's own signature verifies");
    require(bundle.expires_at >= kNow && has_participant(bundle.participants, member),
            "a verified bundle is current and lists its verifier");
    require(verdict->kind == BundleVerdict::Kind::Clear && verdict->dropped_aids.empty() &&
                verdict->active_aids.size() == bundle.participants.size(),
            "without revocations every participant is active");
}
