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
    std::shared_ptr<const manifest::Manifest> manifest = nullptr;  // absent until build_manifest

    static const frame::ClassSpec& python_class();
};

}  // namespace vesk::python
