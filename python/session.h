// The Python handshake sessions and what their step methods share: the classes (steps join
// them with frame::AddMembers) and the `oidc_mint_jwt` callback.
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

// The caller's `oidc_mint_jwt` as the minter of a step's own identity token: it is called with the
// nonce text while the step runs, and an exception it raises or a result that is not a str
// becomes the minter's error text.
std::optional<handshake::MintJwtFn> mint_jwt(std::optional<frame::Callable> oidc_mint_jwt);

}  // namespace vesk::python
