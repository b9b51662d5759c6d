#include "vesk/handshake/initiator.h"

#include <utility>
#include <variant>

#include "vesk/core/clock.h"
#include "vesk/handshake/token_exchange.h"
#include "vesk/manifest/model.h"

namespace vesk::handshake {
namespace {

using Kind = HandshakeError::Kind;

}  // namespace

std::expected<std::string, StepError> build_hello(InitiatorSession& session,
                                                  std::string_view peer_manifest_json,
                                                  std::vector<std::string> requested_grants,
                                                  std::optional<MintJwtFn> mint_jwt) {
    auto peer = json::from_json<manifest::ManifestEnvelope>(peer_manifest_json);
    if (!peer) {
        return std::unexpected(StepError::unreadable(StepError::Kind::PeerManifest, peer.error()));
    }
    const Uuid message_id = Uuid::new_v4();
    const std::int64_t timestamp = unix_now();
    const SessionConfig& config = session.config;

    auto preparation = prepare_oidc_identity(config.identity, std::move(mint_jwt));
    if (!preparation) return std::unexpected(StepError::of(std::move(preparation.error())));
    const std::string nonce = generate_pop_nonce();
    const std::string& peer_aid = peer->manifest.aid.as_str();
    auto identity = build_identity_proof(
        *preparation, {config.key->aid().as_str(), peer_aid, message_id, nonce, timestamp},
        *config.key);
    if (!identity) return std::unexpected(StepError::of(std::move(identity.error())));

    const MutualHelloPayload payload{std::move(*identity), *config.manifest,
                                     std::move(requested_grants), nonce, std::nullopt};
    session.state = InitiatorState{InitiatorState::HelloSent{nonce, peer_aid}};
    return sign_and_write(*config.key, MessageType::MutualHello, payload, message_id, timestamp);
}

std::expected<MutualCommitPayload, HandshakeError> on_hello_ack(
    InitiatorState& state, const VeskEnvelope& envelope, const MutualHelloAckPayload& payload,
    const SessionSettings& settings) {
    const auto* sent = std::get_if<InitiatorState::HelloSent>(&state.value);
    if (!sent) return std::unexpected(HandshakeError::state("on_hello_ack out of order"));
    const InitiatorState::HelloSent hello = *sent;
    auto fail = [&state](HandshakeError error) {
        state.value = InitiatorState::Failed{};
        return std::unexpected(std::move(error));
    };

    if (envelope.sender.agent_id != hello.peer_aid) {
        return fail(HandshakeError::invalid_envelope(
            "HELLO_ACK sender AID does not match the intended peer"));
    }
    const manifest::Manifest& peer = payload.manifest;
    if (peer.aid.as_str() != hello.peer_aid) {
        return fail(HandshakeError::invalid_envelope(
            "HELLO_ACK manifest AID does not match the intended peer"));
    }
    if (payload.pop_nonce_echo != hello.pop_nonce) {
        return fail(HandshakeError::of(Kind::NonceMismatch));
    }
    auto peer_key =
        verify_peer_identity(envelope, peer, payload.identity, payload.pop_nonce, settings);
    if (!peer_key) return fail(std::move(peer_key.error()));

    // From here on a failure leaves the session waiting for a better HELLO_ACK.
    auto issued = issue_peer_tct(settings, peer.aid, *peer_key, payload.requested_grants);
    if (!issued) return std::unexpected(std::move(issued.error()));
    auto signature = pop_sign_nonce(settings.signing_key, payload.pop_nonce);
    if (!signature) return std::unexpected(std::move(signature.error()));

    state.value = InitiatorState::CommitSent{*peer_key, hello.pop_nonce, hello.peer_aid,
                                             peer.offered_capabilities, peer.expires_at};
    return MutualCommitPayload{std::move(issued->token), std::move(issued->grant_voucher),
                               std::move(*signature), payload.pop_nonce, std::nullopt};
}

std::expected<std::string, StepError> process_hello_ack(InitiatorSession& session,
                                                        std::string_view hello_ack_json) {
    auto envelope = read_envelope(hello_ack_json);
    if (!envelope) return std::unexpected(std::move(envelope.error()));
    auto payload = read_payload<MutualHelloAckPayload>(*envelope);
    if (!payload) return std::unexpected(std::move(payload.error()));
    const SessionSettings settings = session.config.settings(unix_now());
    if (!session.state) return std::unexpected(StepError{StepError::Kind::NotStarted});

    auto commit = on_hello_ack(*session.state, *envelope, *payload, settings);
    if (!commit) return std::unexpected(StepError::of(std::move(commit.error())));
    return sign_and_write(settings.signing_key, MessageType::MutualCommit, *commit, Uuid::new_v4(),
                          unix_now());
}

std::expected<IssuedTct, HandshakeError> on_commit_ack(InitiatorState& state,
                                                       std::string_view sender,
                                                       const MutualCommitAckPayload& payload,
                                                       const SessionSettings& settings) {
    const auto* sent = std::get_if<InitiatorState::CommitSent>(&state.value);
    if (!sent) return std::unexpected(HandshakeError::state("on_commit_ack out of order"));
    auto fail = [&state](HandshakeError error) {
        state.value = InitiatorState::Failed{};
        return std::unexpected(std::move(error));
    };

    if (sender != sent->peer_aid) {
        return fail(HandshakeError::invalid_envelope("commit_ack sender mismatch"));
    }
    if (payload.pop_nonce_echo != sent->pop_nonce) {
        return fail(HandshakeError::of(Kind::NonceMismatch));
    }

    // From here on a failure leaves the session waiting for a better MUTUAL_COMMIT_ACK.
    if (auto possession = pop_verify_nonce(sent->peer_key, sent->pop_nonce, payload.pop_signature);
        !possession) {
        return std::unexpected(std::move(possession.error()));
    }
    const Aid peer_aid = held_aid(sent->peer_aid);
    auto verified = verify_peer_issued_tct(
        settings, payload.tct, payload.grant_voucher,
        {peer_aid, sent->peer_manifest_expires_at, sent->peer_offered_capabilities});
    if (!verified) return std::unexpected(std::move(verified.error()));

    state.value = InitiatorState::Completed{};
    return IssuedTct{std::move(verified->token), std::move(verified->claims),
                     payload.grant_voucher};
}

std::expected<std::string, StepError> complete(InitiatorSession& session,
                                               std::string_view commit_ack_json) {
    auto envelope = read_envelope(commit_ack_json);
    if (!envelope) return std::unexpected(std::move(envelope.error()));
    auto payload = read_payload<MutualCommitAckPayload>(*envelope);
    if (!payload) return std::unexpected(std::move(payload.error()));
    const SessionSettings settings = session.config.settings(unix_now());
    if (!session.state) return std::unexpected(StepError{StepError::Kind::NotStarted});

    auto received = on_commit_ack(*session.state, envelope->sender.agent_id, *payload, settings);
    if (!received) return std::unexpected(StepError::of(std::move(received.error())));
    return render_tct_envelope_json(*received);
}

}  // namespace vesk::handshake
