// Signature texts against fixed Ed25519 and P-256 keys and a fixed digest: parsing never
// faults, and only the signatures the keys made verify.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/core/base64url.h"
#include "vesk/crypto/signature_text.h"

using namespace vesk;

namespace {

struct Fixture {
    const SigningKey& ed25519 = fuzz::issuer_ed25519();
    const SigningKey& p256 = fuzz::issuer_p256();
    std::array<std::uint8_t, 32> digest = fuzz::fixed_secret(0xa0);
    std::string ed25519_signature = sign_digest_to_text(ed25519, digest);
    std::string p256_signature = sign_digest_to_text(p256, digest);
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Fixture& f = fixture();
    const std::string_view text = fuzz::as_text(data, size);
    auto parsed = SignatureText::parse(text);
    if (parsed) fuzz::require(parsed->as_str() == text, "a signature text is kept as received");

    if (verify_signature_text(f.ed25519.verifying_key(), f.digest, text)) {
        fuzz::require(parsed.has_value(), "a verified text parses");
        std::string_view payload = text;
        if (payload.starts_with("ed25519.")) payload.remove_prefix(8);
        // Strict Ed25519 leaves one valid encoding of the key's signature.
        fuzz::require(payload == f.ed25519_signature, "only the key's own signature verifies");
    }
    if (verify_signature_text(f.p256.verifying_key(), f.digest, text)) {
        fuzz::require(parsed.has_value(), "a verified text parses");
        // ECDSA also accepts (r, n - s); r is the signer's all the same.
        auto got = b64u_decode(text.substr(5));
        auto made = b64u_decode(std::string_view(f.p256_signature).substr(5));
        fuzz::require(got && made && std::equal(got->begin(), got->begin() + 32, made->begin()),
                      "only the key's own signature verifies");
    }
    return 0;
}
