// The Python `JwksProvider`: issuer key sets filled by the caller, shared with the sessions
// given the provider.
#pragma once

#include <memory>

#include "frame/members.h"
#include "vesk/handshake/jwks.h"

namespace vesk::python {

struct PyJwksProvider {
    std::shared_ptr<handshake::JwksStore> store;
    static const frame::ClassSpec& python_class();
};

}  // namespace vesk::python
