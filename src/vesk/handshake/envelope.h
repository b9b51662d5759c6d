// The signed message envelope every handshake message travels in. The signature covers the
// message identifier, the time, the sender and a hash of the payload; not the version, the
// message type or the extensions. Received envelopes are read, never verified: the handshake
// checks what the payload proves instead.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/core/json_record.h"
#include "vesk/core/uuid.h"
#include "vesk/crypto/keys.h"

namespace vesk::handshake {

enum class MessageType {
    MutualHello,
    MutualHelloAck,
    MutualCommit,
    MutualCommitAck,
    Tct,
    PopChallenge,
    PopResponse,
    Error,
};

constexpr auto describe_json(std::type_identity<MessageType>) {
    return json::variants<MessageType>({"mutual_hello", "mutual_hello_ack", "mutual_commit",
                                        "mutual_commit_ack", "tct", "pop_challenge", "pop_response",
                                        "error"});
}

struct Sender {
    std::string agent_id;  // the sender's AID text; not checked when read

    friend bool operator==(const Sender&, const Sender&) = default;
};

constexpr auto describe_json(std::type_identity<Sender>) {
    return json::record("struct Sender", json::member("agent_id", &Sender::agent_id));
}

// The payload could not be written canonically for signing.
struct EnvelopeError {
    std::string detail;  // the canonical writer's message

    std::string text() const { return "serialization failed: " + detail; }
};

struct VeskEnvelope {
    std::string version;
    MessageType message_type{};
    Uuid message_id;
    std::int64_t timestamp = 0;
    Sender sender;
    json::Value payload;  // objects keep their member order
    std::optional<json::Extensions> extensions;
    std::string signature;

    // Signs with the given identifier and time (callers that need them in advance).
    static std::expected<VeskEnvelope, EnvelopeError> new_signed_with(const SigningKey& key,
                                                                      MessageType message_type,
                                                                      json::Value payload,
                                                                      Uuid message_id,
                                                                      std::int64_t timestamp);
    // A fresh version-4 identifier and the current time.
    static std::expected<VeskEnvelope, EnvelopeError> new_signed(const SigningKey& key,
                                                                 MessageType message_type,
                                                                 json::Value payload);
    // Strict reading; the signature is not checked.
    static json::Result<VeskEnvelope> deserialize(std::string_view text);
    // Compact JSON; `extensions` only when present.
    std::string serialize() const;

    // message_id|timestamp|agent_id|hex(SHA-256(canonical payload)): SHA-256 of this is signed.
    std::expected<std::string, EnvelopeError> signing_input() const;

    friend bool operator==(const VeskEnvelope&, const VeskEnvelope&) = default;
};

constexpr auto describe_json(std::type_identity<VeskEnvelope>) {
    using json::member;
    return json::record(
        "struct VeskEnvelope", member("version", &VeskEnvelope::version),
        member("message_type", &VeskEnvelope::message_type),
        member("message_id", &VeskEnvelope::message_id),
        member("timestamp", &VeskEnvelope::timestamp), member("sender", &VeskEnvelope::sender),
        member("payload", &VeskEnvelope::payload), member("extensions", &VeskEnvelope::extensions),
        member("signature", &VeskEnvelope::signature));
}

}  // namespace vesk::handshake
