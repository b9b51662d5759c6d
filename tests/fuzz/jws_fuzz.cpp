// Compact JWS checking against fixed Ed25519 and P-256 signers: malformed tokens are refused
// with an error, and a token that verifies agrees with its segments read on their own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/crypto/jws.h"

using namespace vesk;

namespace {

void check_verified(const SigningKey& signer, std::string_view token) {
    auto payload = jws::verify_compact(signer.aid(), jws::kTypTct, token);
    if (!payload) {
        fuzz::require(!payload.error().text().empty(), "a refusal has a text");
        return;
    }
    auto decoded = jws::decode_payload(token);
    fuzz::require(decoded && decoded->payload == *payload,
                  "the verified payload is the payload segment");
    fuzz::require(JwsHeader::parse(token) == std::string(jws::kTypTct),
                  "a verified token's header names its type");
    fuzz::require(fuzz::is_own_signature(signer, token),
                  "only the signer's own signature verifies");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view token = fuzz::as_text(data, size);
    (void)JwsHeader::parse(token);
    if (jws::decode_payload(token)) {
        fuzz::require(jws::split_compact(token).has_value(), "a decoded token splits");
    }
    check_verified(fuzz::issuer_ed25519(), token);
    check_verified(fuzz::issuer_p256(), token);
    return 0;
}
