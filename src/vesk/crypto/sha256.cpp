#include "vesk/crypto/sha256.h"

#include <sodium.h>

namespace vesk {

Digest sha256(std::span<const std::uint8_t> bytes) {
    Digest out;
    crypto_hash_sha256(out.data(), bytes.data(), bytes.size());
    return out;
}

}  // namespace vesk
