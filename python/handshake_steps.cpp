// The handshake step methods of InitiatorSession and ResponderSession.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session.h"
#include "vesk/handshake/initiator.h"
#include "vesk/handshake/responder.h"

namespace vesk::python {
namespace {

using frame::Error;
using handshake::StepError;

// The names a step's failures are told by: the message it reads and the step it must follow.
struct StepNames {
    std::string_view payload;      // e.g. "hello", as in "invalid hello payload: "
    std::string_view predecessor;  // e.g. "build_hello", as in "call build_hello() first"
};

// Input that does not read is a ValueError, and so is an OIDC agent without a minter; every other
// failure is a RuntimeError.
Error step_error(const StepError& error, const StepNames& names) {
    using Kind = StepError::Kind;
    switch (error.kind) {
        case Kind::PeerManifest:
            return Error::value("invalid peer manifest JSON: " + error.json.text());
        case Kind::Envelope:
            return Error::value("invalid envelope JSON: " + error.json.text());
        case Kind::Payload:
            return Error::value("invalid " + std::string(names.payload) +
                                " payload: " + error.json.text());
        case Kind::NotStarted:
            return Error::runtime("call " + std::string(names.predecessor) + "() first");
        case Kind::OwnIdentity:
            if (error.identity->kind == handshake::PrepareError::Kind::MissingCallable) {
                return Error::value(error.identity->text());
            }
            return Error::runtime(error.identity->text());
        case Kind::Refused:
            return Error::runtime(error.handshake->text());
        case Kind::Reply:
            break;
    }
    return Error::runtime(error.detail);
}

template <class T>
frame::Result<T> finish(std::expected<T, StepError> result, const StepNames& names) {
    if (!result) return std::unexpected(step_error(result.error(), names));
    return std::move(*result);
}

frame::Result<std::string> build_hello(PyInitiatorSession& self, std::string peer_manifest_json,
                                       std::vector<std::string> requested_grants,
                                       std::optional<frame::Callable> oidc_mint_jwt) {
    return finish(
        handshake::build_hello(self.session, peer_manifest_json, std::move(requested_grants),
                               mint_jwt(std::move(oidc_mint_jwt))),
        {});
}

frame::Result<std::string> process_hello_ack(PyInitiatorSession& self, std::string hello_ack_json,
                                             std::string /*session_id*/) {
    return finish(handshake::process_hello_ack(self.session, hello_ack_json),
                  {"hello_ack", "build_hello"});
}

frame::Result<std::string> complete(PyInitiatorSession& self, std::string commit_ack_json) {
    return finish(handshake::complete(self.session, commit_ack_json),
                  {"commit_ack", "process_hello_ack"});
}

frame::Result<std::pair<std::string, std::string>> process_hello(
    PyResponderSession& self, std::string hello_json,
    std::optional<frame::Callable> oidc_mint_jwt) {
    return finish(
        handshake::process_hello(self.session, hello_json, mint_jwt(std::move(oidc_mint_jwt))),
        {"hello", {}});
}

frame::Result<std::pair<std::string, std::string>> process_commit(PyResponderSession& self,
                                                                  std::string commit_json) {
    return finish(handshake::process_commit(self.session, commit_json),
                  {"commit", "process_hello"});
}

const frame::AddMembers<PyInitiatorSession> initiator_steps{{
    frame::method<&build_hello>(
        "build_hello", {"peer_manifest_json", "requested_grants", "oidc_mint_jwt"},
        "Step 1 — build the `MUTUAL_HELLO` envelope.\n\n"
        "`peer_manifest_json` is the `ManifestEnvelope` JSON from the peer's "
        "`GET /.well-known/vesk-manifest`; the method returns the envelope JSON to `POST` to "
        "`/vesk/handshake/hello`.\n\n"
        "`oidc_mint_jwt` is required when this agent's manifest is OIDC: it receives the "
        "handshake-generated `pop_nonce` and must return a freshly minted JWT whose `nonce` "
        "claim equals that nonce. It is ignored for pinned-key agents."),
    frame::method<&process_hello_ack>(
        "process_hello_ack", {"hello_ack_json", "_session_id"},
        "Step 2 — process `MUTUAL_HELLO_ACK`, produce `MUTUAL_COMMIT`."),
    frame::method<&complete>(
        "complete", {"commit_ack_json"},
        "Step 3 — process `MUTUAL_COMMIT_ACK`. Returns a JSON object\n"
        "{\"tct\", \"grant_voucher\"} holding the TCT the peer issued to this agent\n"
        "and the companion grant voucher, when issued (null otherwise). The voucher\n"
        "is what later lets this agent mint delegations."),
}};

const frame::AddMembers<PyResponderSession> responder_steps{{
    frame::method<&process_hello>("process_hello", {"hello_json", "oidc_mint_jwt"},
                                  "Process an incoming `MUTUAL_HELLO` envelope.\n\n"
                                  "`oidc_mint_jwt` is required when this agent's manifest is "
                                  "OIDC;\nsee `InitiatorSession.build_hello` for semantics."),
    frame::method<&process_commit>("process_commit", {"commit_json"},
                                   "Process an incoming `MUTUAL_COMMIT` envelope."),
}};

}  // namespace
}  // namespace vesk::python
