#include "vesk/core/random.h"

#include <sodium.h>

#include "vesk/core/fault.h"

namespace vesk {

void random_bytes(std::span<std::uint8_t> out) {
    static const int ready = sodium_init();
    if (ready < 0) fault("libsodium could not be initialised");
    randombytes_buf(out.data(), out.size());
}

}  // namespace vesk
