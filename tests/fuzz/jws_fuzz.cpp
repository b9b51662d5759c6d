// Compact JWS checking against fixed Ed25519 and P-256 signers: malformed tokens are refused
// with an error, and a token that verifies agrees with its segments read on their own.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "vesk/crypto/jws.h"

using namespace vesk;

namespace {

struct Signers {
    SharedSigningKey ed25519;
    SharedSigningKey p256;

    Signers() {
        std::array<std::uint8_t, 32> secret{};
        for (std::size_t i = 0; i < secret.size(); ++i)
            secret[i] = static_cast<std::uint8_t>(i + 1);
        ed25519 = SigningKey::from_ed25519_seed(secret);
        p256 = *SigningKey::from_p256_scalar(secret);
    }
};

const Signers& signers() {
    static const Signers s;
    return s;
}

void check_verified(const SigningKey& signer, std::string_view token) {
    auto payload = jws::verify_compact(signer.aid(), jws::kTypTct, token);
    if (!payload) {
        fuzz::require(!payload.error().text().empty(), "a refusal has a text");
        return;
    }
    auto segment = jws::decode_segment(token);
    fuzz::require(segment && *segment == *payload, "the verified payload is the payload segment");
    fuzz::require(JwsHeader::parse(token) == std::string(jws::kTypTct),
                  "a verified token's header names its type");
    if (signer.algorithm() == Algorithm::Ed25519) {
        // Ed25519 signatures are deterministic: a verified token is one the signer wrote.
        const std::string_view input = token.substr(0, token.rfind('.'));
        const SignatureBytes again =
            signer.sign({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
        fuzz::require(token.substr(token.rfind('.') + 1) == b64u_encode(again),
                      "only the signer's own signature verifies");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view token = fuzz::as_text(data, size);
    (void)JwsHeader::parse(token);
    auto segment = jws::decode_segment(token);
    if (segment) fuzz::require(jws::split_compact(token).has_value(), "a decoded token splits");
    check_verified(*signers().ed25519, token);
    check_verified(*signers().p256, token);
    return 0;
}
