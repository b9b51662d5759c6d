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

Error to_python_error(StepError error) {
    return error.kind == StepError::Kind::Malformed ? Error::value(std::move(error.message))
                                                    : Error::runtime(std::move(error.message));
}

template <class T>
frame::Result<T> finish(std::expected<T, StepError> result) {
    if (!result) return std::unexpected(to_python_error(std::move(result.error())));
    return std::move(*result);
}

// The own identity, prepared with the caller's `oidc_mint_jwt` when the step asks for it.
handshake::PrepareOwnIdentity preparer(const handshake::SessionConfig& config,
                                       std::optional<frame::Callable> oidc_mint_jwt) {
    return [&config, callable = std::move(oidc_mint_jwt)]() mutable
           -> std::expected<handshake::OwnIdentityPreparation, StepError> {
        auto preparation = prepare_own_identity(config, std::move(callable));
        if (preparation) return std::move(*preparation);
        const Error& error = preparation.error();
        return std::unexpected(error.kind() == Error::Kind::Value
                                   ? StepError::malformed(error.message())
                                   : StepError::failed(error.message()));
    };
}

frame::Result<std::string> build_hello(PyInitiatorSession& self, std::string peer_manifest_json,
                                       std::vector<std::string> requested_grants,
                                       std::optional<frame::Callable> oidc_mint_jwt) {
    return finish(handshake::build_hello(self.session, peer_manifest_json,
                                         std::move(requested_grants),
                                         preparer(self.session.config, std::move(oidc_mint_jwt))));
}

frame::Result<std::string> process_hello_ack(PyInitiatorSession& self, std::string hello_ack_json,
                                             std::string /*session_id*/) {
    return finish(handshake::process_hello_ack(self.session, hello_ack_json));
}

frame::Result<std::string> complete(PyInitiatorSession& self, std::string commit_ack_json) {
    return finish(handshake::complete(self.session, commit_ack_json));
}

frame::Result<std::pair<std::string, std::string>> process_hello(
    PyResponderSession& self, std::string hello_json,
    std::optional<frame::Callable> oidc_mint_jwt) {
    return finish(handshake::process_hello(
        self.session, hello_json, preparer(self.session.config, std::move(oidc_mint_jwt))));
}

frame::Result<std::pair<std::string, std::string>> process_commit(PyResponderSession& self,
                                                                  std::string commit_json) {
    return finish(handshake::process_commit(self.session, commit_json));
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
