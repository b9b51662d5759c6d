// Session trust bundles checked by a fixed member: strict reading round-trips, and a bundle only
// verifies when current, listing the member, signed by its coordinator (a seed key: the fuzzer
// holds none), with every participant accounted for.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/crypto/sha256.h"
#include "vesk/session_bundle/verify.h"

using namespace vesk;
using namespace vesk::session_bundle;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto envelope = json::from_json<SessionBundleEnvelope>(fuzz::as_text(data, size));
    if (!envelope) return 0;
    const std::string written = json::to_json(*envelope);
    auto again = json::from_json<SessionBundleEnvelope>(written);
    fuzz::require(again && json::to_json(*again) == written, "a written bundle reads back");

    const SessionTrustBundle& bundle = envelope->session_bundle;
    const Aid& member = fuzz::holder_ed25519().aid();
    auto verdict = verify(bundle, {.verifier = member, .now = fuzz::kNow, .revocation_check = {}});
    if (!verdict) {
        fuzz::require(!verdict.error().text().empty(), "a refusal has a text");
        return 0;
    }
    const SigningKey* coordinator = nullptr;
    for (const SigningKey* key : {&fuzz::issuer_ed25519(), &fuzz::issuer_p256()}) {
        if (key->aid() == bundle.coordinator) coordinator = key;
    }
    auto bytes = signing_bytes(bundle);
    fuzz::require(coordinator && bytes &&
                      fuzz::is_own_signature_text(*coordinator, sha256(*bytes), bundle.signature),
                  "only the coordinator's own signature verifies");
    fuzz::require(bundle.expires_at >= fuzz::kNow && has_participant(bundle.participants, member),
                  "a verified bundle is current and lists its verifier");
    fuzz::require(verdict->kind == BundleVerdict::Kind::Clear && verdict->dropped_aids.empty() &&
                      verdict->active_aids.size() == bundle.participants.size(),
                  "without revocations every participant is active");
    return 0;
}
