// The handshake steps' input readers, and the steps themselves on fresh sessions of two fixed
// pinned-key agents: an input that cannot be read is refused as unreadable, one that can is
// judged or answered with a reply this side signed.
#include <memory>

#include "fixed_keys.h"
#include "vesk/core/clock.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/handshake/initiator.h"
#include "vesk/handshake/responder.h"
#include "vesk/manifest/builder.h"

namespace vesk::fuzz {
namespace {

using namespace handshake;

struct Agent {
    manifest::Manifest manifest;
    SessionConfig config;
};

// An agent with a Manifest valid from now on for years, so that saved inputs stay current.
Agent make_agent(const SigningKey& key) {
    manifest::ManifestBuilder builder(key);
    builder.issued_at = unix_now();
    builder.lifetime_secs = 10LL * 365 * 86400;
    builder.handshake_endpoint = "https://agent.example/vesk/handshake/hello";
    builder.offered_capabilities = {"read"};
    builder.identity_hint = manifest::IdentityHint{
        manifest::IdentityType::PinnedKey, "agent", {}, b64u_encode(*key.ed25519_public_key())};
    auto manifest = manifest::build_signed_manifest(builder);
    require(manifest.has_value(), "the fixed agents' Manifests build");
    SharedSigningKey shared(std::shared_ptr<const SigningKey>(), &key);  // not owned
    auto config = SessionConfig::create(shared, *manifest, std::nullopt, nullptr);
    require(config.has_value(), "the fixed agents' sessions configure");
    return {*manifest, *config};
}

// A step refuses `text` as unreadable exactly when its payload does not read as `Payload`;
// a payload that reads survives writing and reading again.
template <class Payload, class T>
void check_step(const std::expected<T, StepError>& result, std::string_view text) {
    bool readable = false;
    if (auto envelope = read_envelope(text)) {
        if (auto payload = read_payload<Payload>(*envelope)) {
            auto again = json::from_value<Payload>(json::to_value(*payload));
            require(again && *again == *payload, "a written payload reads back the same");
            readable = true;
        }
    }
    const bool unreadable = !result && (result.error().kind == StepError::Kind::Envelope ||
                                        result.error().kind == StepError::Kind::Payload);
    require(unreadable != readable, "refused as unreadable exactly when the input cannot be read");
}

// A reply is an envelope this side signed.
void check_reply(const std::string& reply, const SigningKey& own) {
    auto envelope = VeskEnvelope::deserialize(reply);
    require(envelope && envelope->sender.agent_id == own.aid().as_str() &&
                verify_signature_text(own.verifying_key(), sha256(*envelope->signing_input()),
                                      envelope->signature),
            "a reply is signed by its sender");
}

}  // namespace

void check_input(std::string_view text) {
    static const Agent initiator_agent = make_agent(issuer(Algorithm::Ed25519));
    static const Agent responder_agent = make_agent(holder(Algorithm::Ed25519));

    ResponderSession responder{responder_agent.config, std::nullopt};
    auto answered = process_hello(responder, text, std::nullopt);
    check_step<MutualHelloPayload>(answered, text);
    if (answered) {
        check_reply(answered->first, holder(Algorithm::Ed25519));
        require(responder.state &&
                    std::holds_alternative<ResponderState::AwaitingCommit>(responder.state->value),
                "an answered hello awaits the commit");
    }
    check_step<MutualCommitPayload>(process_commit(responder, text), text);

    InitiatorSession initiator{initiator_agent.config, std::nullopt};
    const std::string peer_manifest =
        json::to_json(manifest::ManifestEnvelope{responder_agent.manifest});
    require(build_hello(initiator, peer_manifest, {"read"}, std::nullopt).has_value(),
            "the fixed initiator says hello");
    check_step<MutualHelloAckPayload>(process_hello_ack(initiator, text), text);
    check_step<MutualCommitAckPayload>(complete(initiator, text), text);
}

}  // namespace vesk::fuzz
