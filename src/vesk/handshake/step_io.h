// What the handshake steps that take and give message texts share: how they report failure,
// how they read a received envelope and its payload, and how they sign and write a reply.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"
#include "vesk/handshake/envelope.h"
#include "vesk/handshake/error.h"
#include "vesk/handshake/identity.h"

namespace vesk::handshake {

struct StepError {
    // Malformed: the input could not be read; Failed: a refused check, an order error or a
    // failure to build the reply.
    enum class Kind { Malformed, Failed };
    Kind kind;
    std::string message;

    static StepError malformed(std::string message) {
        return {Kind::Malformed, std::move(message)};
    }
    static StepError failed(std::string message) { return {Kind::Failed, std::move(message)}; }
    static StepError from(const HandshakeError& error) { return failed(error.text()); }
};

// Prepares the own identity; a step calls it once, after reading its input and before any
// check of it.
using PrepareOwnIdentity = std::function<std::expected<OwnIdentityPreparation, StepError>()>;

// An AID text kept in a handshake state, which was read from a Manifest and so parses.
Aid held_aid(const std::string& text);

// The envelope is read strictly; its signature, version and type are not looked at.
std::expected<VeskEnvelope, StepError> read_envelope(std::string_view text);

// `prefix` names the message, e.g. "invalid hello payload: ".
template <class Payload>
std::expected<Payload, StepError> read_payload(const VeskEnvelope& envelope,
                                               std::string_view prefix) {
    auto payload = json::from_value<Payload>(envelope.payload);
    if (!payload) {
        return std::unexpected(StepError::malformed(std::string(prefix) + payload.error().text()));
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
    if (!envelope) return std::unexpected(StepError::failed(envelope.error().text()));
    return envelope->serialize();
}

}  // namespace vesk::handshake
