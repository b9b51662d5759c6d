// The responder's side of the handshake: MUTUAL_HELLO in and MUTUAL_HELLO_ACK out,
// MUTUAL_COMMIT in and MUTUAL_COMMIT_ACK out. Steps read before they judge, as on the
// initiator's side (initiator.h).
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vesk/handshake/envelope.h"
#include "vesk/handshake/identity.h"
#include "vesk/handshake/messages.h"
#include "vesk/handshake/session.h"
#include "vesk/handshake/step_io.h"
#include "vesk/tokens/mint.h"

namespace vesk::handshake {

// Answers a MUTUAL_HELLO in any state, starting a new handshake when it succeeds; an OIDC agent
// proves its identity with a token from `mint_jwt`. Returns the MUTUAL_HELLO_ACK envelope JSON
// and a new session identifier.
std::expected<std::pair<std::string, std::string>, StepError> process_hello(
    ResponderSession& session, std::string_view hello_json, std::optional<MintJwtFn> mint_jwt);

// Checks MUTUAL_COMMIT; returns the MUTUAL_COMMIT_ACK envelope JSON and the handover JSON of
// the TCT and voucher the initiator issued to this agent.
std::expected<std::pair<std::string, std::string>, StepError> process_commit(
    ResponderSession& session, std::string_view commit_json);

// The inner steps, over read messages.
struct HelloAnswer {
    MutualHelloAckPayload payload;
    ResponderState::AwaitingCommit state;
};

// Touches no session: the caller stores the new state. `requested_grants` is what this side
// asks the initiator for.
std::expected<HelloAnswer, HandshakeError> on_hello(const VeskEnvelope& envelope,
                                                    const MutualHelloPayload& hello,
                                                    const OwnIdentityPreparation& own_identity,
                                                    const Uuid& message_id, std::int64_t timestamp,
                                                    const SessionSettings& settings,
                                                    std::vector<std::string> requested_grants);

struct CommitAnswer {
    MutualCommitAckPayload payload;
    IssuedTct received;  // what the initiator issued to this agent
};

// A wrong sender or nonce echo fails the session; other failures leave its state as it was.
std::expected<CommitAnswer, HandshakeError> on_commit(ResponderState& state,
                                                      std::string_view sender,
                                                      const MutualCommitPayload& commit,
                                                      const SessionSettings& settings);

}  // namespace vesk::handshake
