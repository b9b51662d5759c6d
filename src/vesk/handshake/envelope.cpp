#include "vesk/handshake/envelope.h"

#include "vesk/core/canonical_json.h"
#include "vesk/core/clock.h"
#include "vesk/core/hex.h"
#include "vesk/core/protocol.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"

namespace vesk::handshake {
namespace {

std::expected<std::string, EnvelopeError> signing_string(const Uuid& message_id,
                                                         std::int64_t timestamp,
                                                         std::string_view agent_id,
                                                         const json::Value& payload) {
    auto canonical = canonical_json(payload);
    if (!canonical) {
        const CanonicalJsonError& e = canonical.error();
        return std::unexpected(
            EnvelopeError{e.kind == CanonicalJsonError::Kind::Serialization ? e.detail : e.text()});
    }
    return message_id.to_string() + "|" + std::to_string(timestamp) + "|" + std::string(agent_id) +
           "|" + lower_hex(sha256(*canonical));
}

}  // namespace

std::expected<VeskEnvelope, EnvelopeError> VeskEnvelope::new_signed_with(const SigningKey& key,
                                                                         MessageType message_type,
                                                                         json::Value payload,
                                                                         Uuid message_id,
                                                                         std::int64_t timestamp) {
    const std::string& sender = key.aid().as_str();
    auto input = signing_string(message_id, timestamp, sender, payload);
    if (!input) return std::unexpected(input.error());
    std::string signature = sign_digest_to_text(key, sha256(*input));
    return VeskEnvelope{std::string(kProtocolVersion),
                        message_type,
                        message_id,
                        timestamp,
                        Sender{sender},
                        std::move(payload),
                        std::nullopt,
                        std::move(signature)};
}

std::expected<VeskEnvelope, EnvelopeError> VeskEnvelope::new_signed(const SigningKey& key,
                                                                    MessageType message_type,
                                                                    json::Value payload) {
    return new_signed_with(key, message_type, std::move(payload), Uuid::new_v4(), unix_now());
}

json::Result<VeskEnvelope> VeskEnvelope::deserialize(std::string_view text) {
    return json::from_json<VeskEnvelope>(text);
}

std::string VeskEnvelope::serialize() const {
    return json::to_json(*this);
}

std::expected<std::string, EnvelopeError> VeskEnvelope::signing_input() const {
    return signing_string(message_id, timestamp, sender.agent_id, payload);
}

}  // namespace vesk::handshake
