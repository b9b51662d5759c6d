// What the handshake steps that take and give message texts share: how they report failure,
// how they read a received envelope and its payload, and how they sign and write a reply.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/handshake/envelope.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/identity.h"

namespace vesk::handshake {

// Why a step failed, by where it stopped.
struct StepError {
    enum class Kind {
        PeerManifest,  // json: build_hello's peer ManifestEnvelope does not read
        Envelope,      // json: the message is not a VeskEnvelope
        Payload,       // json: its payload does not read as the step's payload
        NotStarted,    // the session has no state yet: its earlier step never succeeded
        OwnIdentity,   // identity: the agent's own identity cannot be proved
        Refused,       // handshake: a check, or making the answer, failed
        Reply,         // detail: the reply could not be signed and written
    };
    Kind kind;
    json::Error json{};
    std::optional<PrepareError> identity{};
    std::optional<HandshakeError> handshake{};
    std::string detail{};

    static StepError unreadable(Kind kind, json::Error error) { return {kind, std::move(error)}; }
    static StepError of(PrepareError error) { return {Kind::OwnIdentity, {}, std::move(error)}; }
    static StepError of(HandshakeError error) {
        return {Kind::Refused, {}, std::nullopt, std::move(error)};
    }
};

// An AID text kept in a handshake state, which was read from a Manifest and so parses.
Aid held_aid(const std::string& text);

// The envelope is read strictly; its signature, version and type are not looked at.
std::expected<VeskEnvelope, StepError> read_envelope(std::string_view text);

// Reads the payload by moving out of the envelope's, which is left unspecified.
template <class Payload>
std::expected<Payload, StepError> read_payload(VeskEnvelope& envelope) {
    auto payload = json::from_value<Payload>(std::move(envelope.payload));
    if (!payload) {
        return std::unexpected(StepError::unreadable(StepError::Kind::Payload, payload.error()));
    }
    return std::move(*payload);
}

// Signs the payload into an envelope of `type` with the given identifier and time, and writes
// it as compact JSON.
template <class Payload>
std::expected<std::string, StepError> sign_and_write(const SigningKey& key, MessageType type,
                                                     const Payload& payload, Uuid message_id,
                                                     std::int64_t timestamp) {
    auto envelope =
        VeskEnvelope::new_signed_with(key, type, json::to_value(payload), message_id, timestamp);
    if (!envelope) {
        return std::unexpected(
            StepError{StepError::Kind::Reply, {}, {}, {}, envelope.error().text()});
    }
    return envelope->serialize();
}

}  // namespace vesk::handshake
