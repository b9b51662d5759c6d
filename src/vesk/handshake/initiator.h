// The initiator's side of the handshake: MUTUAL_HELLO out, MUTUAL_HELLO_ACK in and
// MUTUAL_COMMIT out, MUTUAL_COMMIT_ACK in.
//
// Each step reads its input before it judges: the message is parsed and its payload read, the
// clock is read once for the step's settings, and only then is the session's state consulted.
// The state changes only inside the inner step; the reply is signed and written afterwards.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vesk/handshake/envelope.h"
#include "vesk/handshake/identity.h"
#include "vesk/handshake/messages.h"
#include "vesk/handshake/session.h"
#include "vesk/handshake/step_io.h"
#include "vesk/tokens/mint.h"

namespace vesk::handshake {

// Step 1: starts a new handshake with the agent whose ManifestEnvelope is given, whatever the
// session held before. An OIDC agent proves its identity with a token from `mint_jwt`. Returns
// the MUTUAL_HELLO envelope JSON.
std::expected<std::string, StepError> build_hello(InitiatorSession& session,
                                                  std::string_view peer_manifest_json,
                                                  std::vector<std::string> requested_grants,
                                                  std::optional<MintJwtFn> mint_jwt);

// Step 2: checks MUTUAL_HELLO_ACK and returns the MUTUAL_COMMIT envelope JSON.
std::expected<std::string, StepError> process_hello_ack(InitiatorSession& session,
                                                        std::string_view hello_ack_json);

// Step 3: checks MUTUAL_COMMIT_ACK and returns the handover JSON of the TCT and voucher the
// peer issued to this agent.
std::expected<std::string, StepError> complete(InitiatorSession& session,
                                               std::string_view commit_ack_json);

// The inner steps, over read messages. A wrong sender, Manifest AID, nonce echo or peer
// identity fails the session; other failures leave its state as it was.
std::expected<MutualCommitPayload, HandshakeError> on_hello_ack(
    InitiatorState& state, const VeskEnvelope& envelope, const MutualHelloAckPayload& payload,
    const SessionSettings& settings);

std::expected<IssuedTct, HandshakeError> on_commit_ack(InitiatorState& state,
                                                       std::string_view sender,
                                                       const MutualCommitAckPayload& payload,
                                                       const SessionSettings& settings);

}  // namespace vesk::handshake
