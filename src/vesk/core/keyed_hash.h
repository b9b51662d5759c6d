// The hash of every table keyed by text a peer chooses: SipHash-2-4 under a secret drawn once
// per process, so that no one can make many keys land in one bucket.
#pragma once

#include <cstddef>
#include <string_view>

namespace vesk {

struct KeyedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
};

}  // namespace vesk
