// Shared pieces of the fuzz targets: invariant checks that abort, and views of the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vesk::fuzz {

// A broken invariant is a crash for the fuzzer: print what broke and abort.
inline void require(bool holds, const char* invariant) {
    if (holds) return;
    std::fprintf(stderr, "invariant violated: %s\n", invariant);
    std::abort();
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace vesk::fuzz
