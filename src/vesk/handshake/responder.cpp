#include "vesk/handshake/responder.h"

#include <variant>

#include "vesk/core/clock.h"
#include "vesk/handshake/token_exchange.h"

namespace vesk::handshake {
namespace {

using Kind = HandshakeError::Kind;

}  // namespace

std::expected<HelloAnswer, HandshakeError> on_hello(const VeskEnvelope& envelope,
                                                    const MutualHelloPayload& hello,
                                                    const OwnIdentityPreparation& own_identity,
                                                    const Uuid& message_id, std::int64_t timestamp,
                                                    const SessionSettings& settings,
                                                    std::vector<std::string> requested_grants) {
    auto initiator_key =
        verify_peer_identity(envelope, hello.manifest, hello.identity, hello.pop_nonce, settings);
    if (!initiator_key) return std::unexpected(std::move(initiator_key.error()));
    const std::string nonce = generate_pop_nonce();
    const manifest::Manifest& initiator = hello.manifest;
    auto identity = build_identity_proof(
        own_identity,
        {settings.signing_key.aid().as_str(), initiator.aid.as_str(), message_id, nonce, timestamp},
        settings.signing_key);
    if (!identity) return std::unexpected(std::move(identity.error()));

    return HelloAnswer{
        MutualHelloAckPayload{std::move(*identity), settings.own_manifest,
                              std::move(requested_grants), nonce, hello.pop_nonce, std::nullopt},
        ResponderState::AwaitingCommit{*initiator_key, nonce, hello.pop_nonce,
                                       initiator.aid.as_str(), hello.requested_grants,
                                       initiator.offered_capabilities, initiator.expires_at},
    };
}

std::expected<std::pair<std::string, std::string>, StepError> process_hello(
    ResponderSession& session, std::string_view hello_json, std::optional<MintJwtFn> mint_jwt) {
    auto envelope = read_envelope(hello_json);
    if (!envelope) return std::unexpected(std::move(envelope.error()));
    auto hello = read_payload<MutualHelloPayload>(*envelope);
    if (!hello) return std::unexpected(std::move(hello.error()));
    const Uuid message_id = Uuid::new_v4();
    const std::int64_t timestamp = unix_now();
    const SessionSettings settings = session.config.settings(unix_now());
    auto preparation = prepare_oidc_identity(session.config.identity, std::move(mint_jwt));
    if (!preparation) return std::unexpected(StepError::of(std::move(preparation.error())));

    // Ask the initiator for everything its Manifest offers.
    auto answer = on_hello(*envelope, *hello, *preparation, message_id, timestamp, settings,
                           hello->manifest.offered_capabilities);
    if (!answer) return std::unexpected(StepError::of(std::move(answer.error())));
    std::string session_id = Uuid::new_v4().to_string();
    session.state = ResponderState{std::move(answer->state)};
    auto reply = sign_and_write(settings.signing_key, MessageType::MutualHelloAck, answer->payload,
                                message_id, timestamp);
    if (!reply) return std::unexpected(std::move(reply.error()));
    return std::pair{std::move(*reply), std::move(session_id)};
}

std::expected<CommitAnswer, HandshakeError> on_commit(ResponderState& state,
                                                      std::string_view sender,
                                                      const MutualCommitPayload& commit,
                                                      const SessionSettings& settings) {
    auto* awaiting = std::get_if<ResponderState::AwaitingCommit>(&state.value);
    if (!awaiting) return std::unexpected(HandshakeError::state("on_commit out of order"));
    auto fail = [&state](HandshakeError error) {
        state.value = ResponderState::Failed{};
        return std::unexpected(std::move(error));
    };

    if (sender != awaiting->initiator_aid) {
        return fail(HandshakeError::invalid_envelope("commit sender mismatch"));
    }
    if (commit.pop_nonce_echo != awaiting->pop_nonce) {
        return fail(HandshakeError::of(Kind::NonceMismatch));
    }

    // From here on a failure leaves the session waiting for a better MUTUAL_COMMIT.
    if (auto possession =
            pop_verify_nonce(awaiting->initiator_key, awaiting->pop_nonce, commit.pop_signature);
        !possession) {
        return std::unexpected(std::move(possession.error()));
    }
    const Aid initiator_aid = held_aid(awaiting->initiator_aid);
    auto verified = verify_peer_issued_tct(settings, commit.tct, commit.grant_voucher,
                                           {initiator_aid, awaiting->initiator_manifest_expires_at,
                                            awaiting->initiator_offered_capabilities});
    if (!verified) return std::unexpected(std::move(verified.error()));
    auto issued = issue_peer_tct(settings, initiator_aid, awaiting->initiator_key,
                                 awaiting->initiator_requested_grants);
    if (!issued) return std::unexpected(std::move(issued.error()));
    auto signature = pop_sign_nonce(settings.signing_key, awaiting->initiator_pop_nonce);
    if (!signature) return std::unexpected(std::move(signature.error()));

    CommitAnswer answer{
        MutualCommitAckPayload{std::move(issued->token), std::move(issued->grant_voucher),
                               std::move(*signature), awaiting->initiator_pop_nonce, std::nullopt},
        IssuedTct{std::move(verified->token), std::move(verified->claims), commit.grant_voucher},
    };
    state.value = ResponderState::Completed{};
    return answer;
}

std::expected<std::pair<std::string, std::string>, StepError> process_commit(
    ResponderSession& session, std::string_view commit_json) {
    auto envelope = read_envelope(commit_json);
    if (!envelope) return std::unexpected(std::move(envelope.error()));
    auto commit = read_payload<MutualCommitPayload>(*envelope);
    if (!commit) return std::unexpected(std::move(commit.error()));
    const SessionSettings settings = session.config.settings(unix_now());
    if (!session.state) return std::unexpected(StepError{StepError::Kind::NotStarted});

    auto answer = on_commit(*session.state, envelope->sender.agent_id, *commit, settings);
    if (!answer) return std::unexpected(StepError::of(std::move(answer.error())));
    auto reply = sign_and_write(settings.signing_key, MessageType::MutualCommitAck, answer->payload,
                                Uuid::new_v4(), unix_now());
    if (!reply) return std::unexpected(std::move(reply.error()));
    return std::pair{std::move(*reply), render_tct_envelope_json(answer->received)};
}

}  // namespace vesk::handshake
