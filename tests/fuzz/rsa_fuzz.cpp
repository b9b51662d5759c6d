// RS256 verification with a fixed 2048-bit key: a signature verifies exactly when the textbook
// check accepts it. Input: the message, then the 256 signature bytes (shorter inputs are a
// signature alone).
#include "fixed_keys.h"
#include "vesk/crypto/rsa.h"

void vesk::fuzz::check_input(std::string_view text) {
    static const RsaPublicKey key = *RsaPublicKey::from_components(rsa_modulus(), kRsaExponent);
    const auto input = as_bytes(text);
    const std::size_t split = input.size() >= 256 ? input.size() - 256 : 0;
    const auto message = input.first(split), signature = input.subspan(split);
    auto verified = key.verify_rs256(message, signature);
    require(verified || verified.error().kind == RsaError::Kind::SignatureInvalid,
            "a bad signature is reported as invalid");
    require(verified.has_value() == is_rs256_signature(message, signature),
            "only the key's own signatures verify, and all of them");
}
