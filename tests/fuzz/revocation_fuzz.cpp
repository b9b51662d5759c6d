// Revocation snapshots: strict reading round-trips, and a snapshot only verifies when current,
// from the expected issuer and signed by it (the fuzzer holds no key).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/crypto/sha256.h"
#include "vesk/revocation/revocation_list.h"

using namespace vesk;
using revocation::RevocationListEnvelope;

namespace {

void check(const RevocationListEnvelope& envelope, const SigningKey& issuer) {
    auto verified = revocation::verify(envelope, issuer.aid(), fuzz::kNow);
    if (!verified) {
        fuzz::require(!revocation::error_code(verified.error()).empty(), "a refusal has a code");
        return;
    }
    const revocation::RevocationList& list = envelope.revocation_list;
    fuzz::require(list.issuer == issuer.aid() && list.expires_at >= fuzz::kNow,
                  "a verified snapshot is the issuer's and current");
    auto bytes = revocation::signing_bytes(list);
    fuzz::require(bytes && fuzz::is_own_signature_text(issuer, sha256(*bytes), envelope.signature),
                  "only the issuer's own signature verifies");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto envelope = json::from_json<RevocationListEnvelope>(fuzz::as_text(data, size));
    if (!envelope) return 0;
    const std::string written = json::to_json(*envelope);
    auto again = json::from_json<RevocationListEnvelope>(written);
    fuzz::require(again && json::to_json(*again) == written, "a written snapshot reads back");
    check(*envelope, fuzz::issuer_ed25519());
    check(*envelope, fuzz::issuer_p256());
    return 0;
}
