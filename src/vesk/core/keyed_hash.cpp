#include "vesk/core/keyed_hash.h"

#include <sodium.h>

#include <array>
#include <cstring>

#include "vesk/core/random.h"

namespace vesk {
namespace {

using Key = std::array<unsigned char, crypto_shorthash_KEYBYTES>;

const Key& process_key() {
    static const Key key = [] {
        Key drawn;
        random_bytes(drawn);
        return drawn;
    }();
    return key;
}

}  // namespace

std::size_t KeyedHash::operator()(std::string_view text) const {
    unsigned char hash[crypto_shorthash_BYTES];
    crypto_shorthash(hash, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                     process_key().data());
    std::size_t out;
    std::memcpy(&out, hash, sizeof out);
    return out;
}

}  // namespace vesk
