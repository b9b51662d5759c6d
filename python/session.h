// The Python handshake sessions and what their step methods share: the classes (steps join
// them with frame::AddMembers) and the own identity preparation with the `oidc_mint_jwt`
// callback.
#pragma once

#include <optional>

#include "frame/members.h"
#include "vesk/handshake/identity.h"
#include "vesk/handshake/session.h"

namespace vesk::python {

struct PyInitiatorSession {
    handshake::InitiatorSession session;
    static const frame::ClassSpec& python_class();
};

struct PyResponderSession {
    handshake::ResponderSession session;
    static const frame::ClassSpec& python_class();
};

// Prepares the session's own identity for a step: ValueError when an OIDC agent has no
// callable, RuntimeError when its identity hint has no usable issuer. The callable is called
// with the nonce text while the step runs; an exception it raises or a result that is not a
// str becomes the minter's error text.
frame::Result<handshake::OwnIdentityPreparation> prepare_own_identity(
    const handshake::SessionConfig& config, std::optional<frame::Callable> oidc_mint_jwt);

}  // namespace vesk::python
