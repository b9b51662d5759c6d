// The Python `VeskAgent`: one agent's signing key, shared with the sessions and bundle builders
// made from it.
#pragma once

#include "frame/members.h"
#include "vesk/crypto/keys.h"

namespace vesk::python {

struct Agent {
    SharedSigningKey key;

    static const frame::ClassSpec& python_class();
};

}  // namespace vesk::python
