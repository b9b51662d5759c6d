// SPKI hashing of arbitrary bytes: a hash or a certificate error, never a fault; and the
// hash depends only on the certificate, not on bytes after it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "vesk/pinning/spki.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto hash = pinning::compute_spki_hash(std::span(data, size));
    if (!hash) {
        fuzz::require(hash.error().kind == pinning::PinningError::Kind::Certificate,
                      "a refused certificate is a certificate error");
        return 0;
    }
    std::vector<std::uint8_t> extended(data, data + size);
    extended.push_back(0);
    auto again = pinning::compute_spki_hash(extended);
    fuzz::require(again && *again == *hash, "trailing bytes do not change the hash");
    return 0;
}
