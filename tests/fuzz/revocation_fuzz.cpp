// Revocation snapshots: strict reading round-trips, and a snapshot only verifies when current,
// from the expected issuer and signed by it (the fuzzer holds no key).
#include "fixed_keys.h"
#include "vesk/revocation/revocation_list.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto envelope = read_record<revocation::RevocationListEnvelope>(text);
    if (!envelope) return;
    const revocation::RevocationList& list = envelope->revocation_list;
    for (Algorithm suite : kSuites) {
        const SigningKey& key = issuer(suite);
        auto verified = revocation::verify(*envelope, key.aid(), kNow);
        if (!verified) {
            require(!revocation::error_code(verified.error()).empty(), "a refusal has a code");
            continue;
        }
        require(list.issuer == key.aid() && list.expires_at >= kNow,
                "a verified snapshot is the issuer's and current");
        auto bytes = revocation::signing_bytes(list);
        require(bytes && is_own_signature_text(key, sha256(*bytes), envelope->signature),
                "only the issuer's own signature verifies");
    }
}
