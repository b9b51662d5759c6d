// The verifying keys this thread used most recently. Peers present the same few keys over and
// over; each is decoded, made ready for verification and given its thumbprint once. The table is
// per thread, so it needs no lock, and bounded: a stream of new keys only replaces the least
// recently used entries. Only keys that decoded are entered.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vesk/crypto/keys.h"
#include "vesk/crypto/p256.h"

namespace vesk::recent_keys {

struct Entry {
    std::string aid;  // the AID text the key was read from; empty when read from bytes
    VerifyingKey key;
    std::string thumbprint;                  // computed on first use
    std::optional<p256::Verifier> verifier;  // P-256 keys: made on the first verification
    std::uint64_t last_use = 0;
};

// Entries are valid until the next call here.
const Entry* find(std::string_view aid);
const Entry* find(const VerifyingKey& key);
void remember(std::string_view aid, const VerifyingKey& key);
// The entry of the key, entered when it has none.
Entry& entry(const VerifyingKey& key);

}  // namespace vesk::recent_keys
