// Ed25519 point checks beyond what libsodium exposes.
#pragma once

#include <cstdint>
#include <span>

namespace vesk::ed25519 {

// True when the 32 bytes encode a curve point: y (sign bit aside, taken modulo p) must give a
// square x^2 = (y^2 - 1) / (d y^2 + 1). Small-order and non-canonical encodings pass here;
// strict verification refuses them.
bool is_curve_point(std::span<const std::uint8_t, 32> encoding);

}  // namespace vesk::ed25519
