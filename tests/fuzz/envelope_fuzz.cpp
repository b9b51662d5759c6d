// The signed message envelope: strict reading round-trips.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "vesk/handshake/envelope.h"

using namespace vesk;
using namespace vesk::handshake;

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
    return 0;
}
