// The signed message envelope: strict reading round-trips.
#include "fuzz.h"
#include "vesk/handshake/envelope.h"

void vesk::fuzz::check_input(std::string_view text) {
    using handshake::VeskEnvelope;
    auto envelope = read_record<VeskEnvelope>(text);
    require(!envelope || VeskEnvelope::deserialize(envelope->serialize()) == *envelope,
            "a written envelope reads back the same");
}
