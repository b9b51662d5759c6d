// InitiatorSession and ResponderSession, and VeskAgent.new_session / new_responder that make
// them. The handshake steps join these classes from their own file.
#include "session.h"

#include <string>
#include <utility>
#include <vector>

#include "agent.h"
#include "oidc.h"

namespace vesk::python {
namespace {

using frame::Error;

// The shared part of both sessions; `jwks` is converted here so that `trust_anchors` is
// converted first.
frame::Result<handshake::SessionConfig> new_config(
    const Agent& agent, std::optional<frame::Callable> jwks,
    std::optional<std::vector<std::string>> trust_anchors) {
    std::optional<frame::Borrowed<PyJwksProvider>> provider;
    if (jwks) {
        provider = frame::borrow_instance<PyJwksProvider>(jwks->object.get());
        if (!provider) {
            frame::note_parameter("jwks");
            return std::unexpected(Error::python(frame::take_exception()));
        }
    }
    if (!agent.manifest) {
        return std::unexpected(Error::runtime("call build_manifest() before creating a session"));
    }
    auto config = handshake::SessionConfig::create(
        agent.key, *agent.manifest, std::move(trust_anchors),
        provider ? handshake::SharedJwksResolver(provider->value->store) : nullptr);
    if (!config) {
        return std::unexpected(Error::value("invalid trust anchor URL: " + config.error().text()));
    }
    return std::move(*config);
}

frame::Result<PyInitiatorSession> new_session(
    const Agent& self, std::optional<frame::Callable> jwks,
    std::optional<std::vector<std::string>> trust_anchors) {
    auto config = new_config(self, std::move(jwks), std::move(trust_anchors));
    if (!config) return std::unexpected(config.error());
    return PyInitiatorSession{handshake::InitiatorSession{std::move(*config), std::nullopt}};
}

frame::Result<PyResponderSession> new_responder(
    const Agent& self, std::optional<frame::Callable> jwks,
    std::optional<std::vector<std::string>> trust_anchors) {
    auto config = new_config(self, std::move(jwks), std::move(trust_anchors));
    if (!config) return std::unexpected(config.error());
    return PyResponderSession{handshake::ResponderSession{std::move(*config), std::nullopt}};
}

const frame::AddMembers<Agent> session_methods{{
    frame::method<&new_session>(
        "new_session", {"jwks", "trust_anchors"},
        "Create a new outbound (initiator) handshake session.\n\n"
        "`jwks` is an optional `JwksProvider` used when the peer's manifest advertises an OIDC "
        "identity. `trust_anchors` overrides the agent manifest's accepted_trust_anchors for "
        "verification purposes; `None` reuses the manifest's list."),
    frame::method<&new_responder>(
        "new_responder", {"jwks", "trust_anchors"},
        "Create a new inbound (responder) handshake session.\n\n"
        "Mirrors `new_session`: `jwks` is an optional `JwksProvider` for OIDC peers and "
        "`trust_anchors` overrides the manifest's accepted_trust_anchors (`None` reuses them)."),
}};

const frame::Export initiator_export = frame::export_class<PyInitiatorSession>();
const frame::Export responder_export = frame::export_class<PyResponderSession>();

}  // namespace

const frame::ClassSpec& PyInitiatorSession::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyInitiatorSession>(
        "InitiatorSession",
        "The initiator side of an outbound handshake: `build_hello`, then `process_hello_ack`, "
        "then `complete`. Made by `VeskAgent.new_session`.",
        {});
    return spec;
}

const frame::ClassSpec& PyResponderSession::python_class() {
    static const frame::ClassSpec spec = frame::define_class<PyResponderSession>(
        "ResponderSession",
        "The responder side of an inbound handshake: `process_hello`, then `process_commit`. "
        "Made by `VeskAgent.new_responder`.",
        {});
    return spec;
}

}  // namespace vesk::python
