// SPKI hashing of arbitrary bytes: a hash or a certificate error, never a fault; and the
// hash depends only on the certificate, not on bytes after it.
#include <vector>

#include "fuzz.h"
#include "vesk/pinning/spki.h"

void vesk::fuzz::check_input(std::string_view text) {
    auto hash = pinning::compute_spki_hash(as_bytes(text));
    if (!hash) {
        require(hash.error().kind == pinning::PinningError::Kind::Certificate,
                "a refused certificate is a certificate error");
        return;
    }
    std::vector<std::uint8_t> extended(text.begin(), text.end());
    extended.push_back(0);
    auto again = pinning::compute_spki_hash(extended);
    require(again && *again == *hash, "trailing bytes do not change the hash");
}
