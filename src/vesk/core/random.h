// The one random source of the system: the operating system's, drawn through libsodium, which
// aborts the process rather than hand back fewer bytes than asked for.
#pragma once

#include <cstdint>
#include <span>

namespace vesk {

void random_bytes(std::span<std::uint8_t> out);

}  // namespace vesk
