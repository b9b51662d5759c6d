// Signature texts against fixed Ed25519 and P-256 keys and a fixed digest: parsing never
// faults, and only the signatures the keys made verify.
#include <array>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_keys.h"
#include "vesk/crypto/signature_text.h"

using namespace vesk;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint8_t, 32> digest = fuzz::fixed_secret(0xa0);
    const std::string_view text = fuzz::as_text(data, size);
    auto parsed = SignatureText::parse(text);
    if (parsed) fuzz::require(parsed->as_str() == text, "a signature text is kept as received");

    for (const SigningKey* key : {&fuzz::issuer_ed25519(), &fuzz::issuer_p256()}) {
        if (!verify_signature_text(key->verifying_key(), digest, text)) continue;
        fuzz::require(parsed.has_value(), "a verified text parses");
        fuzz::require(fuzz::is_own_signature_text(*key, digest, text),
                      "only the key's own signature verifies");
    }
    return 0;
}
