// Published Manifest envelopes: strict reading round-trips, and a Manifest only verifies when
// signed by the key its AID names (the fuzzer holds none, so only the seeds' keys appear).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/manifest/verifier.h"

using namespace vesk;
using manifest::ManifestEnvelope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::as_text(data, size);
    auto envelope = json::from_json<ManifestEnvelope>(text);
    if (!envelope) return 0;
    auto again = json::from_json<ManifestEnvelope>(json::to_json(*envelope));
    fuzz::require(again && *again == *envelope, "a written envelope reads back the same");
    auto parsed = json::parse(text);
    fuzz::require(parsed.has_value(), "the text of an envelope is JSON");
    auto via_value = json::from_value<ManifestEnvelope>(*parsed);
    fuzz::require(via_value && *via_value == *envelope, "both readings give the same Manifest");

    const manifest::Manifest& m = envelope->manifest;
    auto verified = manifest::verify_manifest(m, fuzz::kNow);
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        return 0;
    }
    fuzz::require(m.aid == fuzz::issuer_ed25519().aid() || m.aid == fuzz::issuer_p256().aid(),
                  "only the seed keys' Manifests verify");
    fuzz::require(m.expires_at >= fuzz::kNow && m.version == "vesk/0.2",
                  "a verified Manifest is current");
    fuzz::require(manifest::canonical_bytes(m).has_value(), "a verified Manifest has signed bytes");
    return 0;
}
