#include "vesk/handshake/step_io.h"

#include "vesk/core/fault.h"

namespace vesk::handshake {

PrepareOwnIdentity own_identity_preparer(const OwnIdentity& identity,
                                         std::optional<MintJwtFn> mint_jwt) {
    return [&identity,
            mint_jwt =
                std::move(mint_jwt)]() mutable -> std::expected<OwnIdentityPreparation, StepError> {
        auto preparation = prepare_oidc_identity(identity, std::move(mint_jwt));
        if (preparation) return std::move(*preparation);
        const PrepareError& error = preparation.error();
        return std::unexpected(error.kind == PrepareError::Kind::MissingCallable
                                   ? StepError::malformed(error.text())
                                   : StepError::failed(error.text()));
    };
}

Aid held_aid(const std::string& text) {
    auto aid = Aid::parse(text);
    if (!aid) fault("a peer AID kept in a handshake state no longer parses");
    return std::move(*aid);
}

std::expected<VeskEnvelope, StepError> read_envelope(std::string_view text) {
    auto envelope = VeskEnvelope::deserialize(text);
    if (!envelope) {
        return std::unexpected(
            StepError::malformed("invalid envelope JSON: " + envelope.error().text()));
    }
    return std::move(*envelope);
}

}  // namespace vesk::handshake
