#include "vesk/handshake/step_io.h"

#include "vesk/core/fault.h"

namespace vesk::handshake {

Aid held_aid(const std::string& text) {
    auto aid = Aid::parse(text);
    if (!aid) fault("a peer AID kept in a handshake state no longer parses");
    return std::move(*aid);
}

std::expected<VeskEnvelope, StepError> read_envelope(std::string_view text) {
    auto envelope = VeskEnvelope::deserialize(text);
    if (!envelope) {
        return std::unexpected(StepError::unreadable(StepError::Kind::Envelope, envelope.error()));
    }
    return std::move(*envelope);
}

}  // namespace vesk::handshake
