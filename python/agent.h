// The Python `VeskAgent`: one agent's signing key, shared with the sessions and bundle builders
// made from it.
#pragma once

#include <memory>

#include "frame/members.h"
#include "vesk/crypto/keys.h"
#include "vesk/manifest/model.h"

namespace vesk::python {

struct Agent {
    SharedSigningKey key;
    // Set by build_manifest; sessions keep their own reference to the one they started with.
    std::shared_ptr<const manifest::Manifest> manifest = nullptr;

    static const frame::ClassSpec& python_class();
};

}  // namespace vesk::python
