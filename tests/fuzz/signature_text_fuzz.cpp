// Signature texts against fixed Ed25519 and P-256 keys and a fixed digest: parsing never
// faults, and only the signatures the keys made verify.
#include "fixed_keys.h"
#include "vesk/crypto/signature_text.h"

void vesk::fuzz::check_input(std::string_view text) {
    static const std::array<std::uint8_t, 32> digest = fixed_secret(0xa0);
    auto parsed = SignatureText::parse(text);
    require(!parsed || parsed->as_str() == text, "a signature text is kept as received");
    for (Algorithm suite : kSuites) {
        if (!verify_signature_text(issuer(suite).verifying_key(), digest, text)) continue;
        require(parsed.has_value(), "a verified text parses");
        require(is_own_signature_text(issuer(suite), digest, text),
                "only the key's own signature verifies");
    }
}
