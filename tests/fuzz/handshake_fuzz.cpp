// The handshake steps' input readers, and the steps themselves on fresh sessions of two fixed
// pinned-key agents: an input that cannot be read is refused as unreadable, one that can is
// judged or answered with a reply this side signed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/core/clock.h"
#include "vesk/crypto/sha256.h"
#include "vesk/crypto/signature_text.h"
#include "vesk/handshake/initiator.h"
#include "vesk/handshake/responder.h"
#include "vesk/manifest/builder.h"

using namespace vesk;
using namespace vesk::handshake;

namespace {

constexpr std::int64_t kTenYears = 10LL * 365 * 86400;

// An agent's Manifest, valid from now on for years, so that saved inputs stay current.
manifest::Manifest long_lived_manifest(const SigningKey& key) {
    manifest::ManifestBuilder builder(key);
    builder.issued_at = unix_now();
    builder.lifetime_secs = kTenYears;
    builder.handshake_endpoint = "https://agent.example/vesk/handshake/hello";
    builder.offered_capabilities = {"read"};
    builder.identity_hint = manifest::IdentityHint{
        manifest::IdentityType::PinnedKey, "agent", {}, b64u_encode(*key.ed25519_public_key())};
    auto built = manifest::build_signed_manifest(builder);
    fuzz::require(built.has_value(), "the fixed agents' Manifests build");
    return *built;
}

SessionConfig config_of(const SigningKey& key, const manifest::Manifest& manifest) {
    SharedSigningKey shared(std::shared_ptr<const SigningKey>(), &key);  // not owned
    auto config = SessionConfig::create(shared, manifest, std::nullopt, nullptr);
    fuzz::require(config.has_value(), "the fixed agents' sessions configure");
    return *config;
}

struct Agents {
    manifest::Manifest initiator = long_lived_manifest(fuzz::issuer_ed25519());
    manifest::Manifest responder = long_lived_manifest(fuzz::holder_ed25519());
    SessionConfig initiator_config = config_of(fuzz::issuer_ed25519(), initiator);
    SessionConfig responder_config = config_of(fuzz::holder_ed25519(), responder);
};

const Agents& agents() {
    static const Agents a;
    return a;
}

// Whether the payload of `text` reads as `Payload` (and survives writing and reading again).
template <class Payload>
bool readable(std::string_view text) {
    auto envelope = read_envelope(text);
    if (!envelope) return false;
    auto payload = read_payload<Payload>(*envelope);
    if (!payload) return false;
    auto again = json::from_value<Payload>(json::to_value(*payload));
    fuzz::require(again && *again == *payload, "a written payload reads back the same");
    return true;
}

// Unreadable input is refused as such; readable input is judged.
template <class T>
void check_step(const std::expected<T, StepError>& result, bool input_readable) {
    if (result) {
        fuzz::require(input_readable, "only readable input is answered");
        return;
    }
    const StepError::Kind kind = result.error().kind;
    fuzz::require(
        (kind == StepError::Kind::Envelope || kind == StepError::Kind::Payload) == !input_readable,
        "refused as unreadable exactly when the input cannot be read");
}

// A reply is an envelope this side signed.
void check_reply(const std::string& reply, const SigningKey& own) {
    auto envelope = VeskEnvelope::deserialize(reply);
    fuzz::require(envelope && envelope->sender.agent_id == own.aid().as_str() &&
                      verify_signature_text(own.verifying_key(), sha256(*envelope->signing_input()),
                                            envelope->signature),
                  "a reply is signed by its sender");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Agents& a = agents();
    const std::string_view text = fuzz::as_text(data, size);
    const bool hello = readable<MutualHelloPayload>(text);
    const bool hello_ack = readable<MutualHelloAckPayload>(text);
    const bool commit = readable<MutualCommitPayload>(text);
    const bool commit_ack = readable<MutualCommitAckPayload>(text);

    ResponderSession responder{a.responder_config, std::nullopt};
    auto answered = process_hello(responder, text, std::nullopt);
    check_step(answered, hello);
    if (answered) {
        check_reply(answered->first, fuzz::holder_ed25519());
        fuzz::require(responder.state && std::holds_alternative<ResponderState::AwaitingCommit>(
                                             responder.state->value),
                      "an answered hello awaits the commit");
    }
    check_step(process_commit(responder, text), commit);

    InitiatorSession initiator{a.initiator_config, std::nullopt};
    const std::string peer_manifest = json::to_json(manifest::ManifestEnvelope{a.responder});
    fuzz::require(build_hello(initiator, peer_manifest, {"read"}, std::nullopt).has_value(),
                  "the fixed initiator says hello");
    check_step(process_hello_ack(initiator, text), hello_ack);
    check_step(complete(initiator, text), commit_ack);
    return 0;
}
