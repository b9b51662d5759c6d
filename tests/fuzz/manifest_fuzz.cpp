// Published Manifest envelopes: strict reading round-trips, and a Manifest only verifies when
// signed by the key its AID names (the fuzzer holds none, so only the fixed keys appear).
#include "fixed_keys.h"
#include "vesk/manifest/verifier.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto envelope = read_record<manifest::ManifestEnvelope>(text);
    if (!envelope) return;
    const manifest::Manifest& m = envelope->manifest;
    if (refused(manifest::verify_manifest(m, kNow))) return;
    const SigningKey* key = fixed_key_of(m.aid);
    auto bytes = manifest::canonical_bytes(m);
    require(key && bytes && is_own_signature_text(*key, sha256(*bytes), m.signature),
            "only the named key's own signature verifies");
    require(m.expires_at >= kNow && m.version == "vesk/0.2", "a verified Manifest is current");
}
