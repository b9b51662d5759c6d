// RS256 verification with a fixed 2048-bit key: PKCS#1 v1.5 signatures are deterministic, so
// the only signature that may verify for a message is the one the private key makes.
// Input: the message, then the 256 signature bytes (shorter inputs are a signature alone).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "fuzz_rsa_key.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::TestRsaKey& f = fuzz::test_rsa_key();
    constexpr std::size_t kSignatureSize = 256;
    std::span<const std::uint8_t> input(data, size);
    const std::size_t split = size >= kSignatureSize ? size - kSignatureSize : 0;
    const auto message = input.first(split);
    const auto signature = input.subspan(split);
    auto verified = f.public_key->verify_rs256(message, signature);
    if (!verified) {
        fuzz::require(verified.error().kind == RsaError::Kind::SignatureInvalid,
                      "a bad signature is reported as invalid");
        return 0;
    }
    fuzz::require(std::ranges::equal(signature, f.sign(message)),
                  "only the key's own signature verifies");
    return 0;
}
