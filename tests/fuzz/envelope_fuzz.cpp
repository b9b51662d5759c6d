// The signed message envelope: strict reading round-trips, and a signature only holds when made
// by the key the sender names (the fuzzer holds none, so only the seeds' keys appear).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/core/envelope.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto envelope = VeskEnvelope::deserialize(fuzz::as_text(data, size));
    if (!envelope) {
        fuzz::require(envelope.error().has_position(), "a reading error carries its position");
        return 0;
    }
    const std::string written = envelope->serialize();
    auto again = VeskEnvelope::deserialize(written);
    fuzz::require(again && *again == *envelope, "a written envelope reads back the same");
    fuzz::require(again->serialize() == written, "writing is stable");

    auto verified = envelope->verify_signature();
    if (!verified) {
        fuzz::require(!verified.error().text().empty(), "a refusal has a text");
        return 0;
    }
    const std::string& sender = envelope->sender.agent_id;
    fuzz::require(sender == fuzz::issuer_ed25519().aid().as_str() ||
                      sender == fuzz::issuer_p256().aid().as_str(),
                  "only the seed keys' signatures hold");
    fuzz::require(envelope->signing_input().has_value(), "a verified envelope has signed bytes");
    return 0;
}
